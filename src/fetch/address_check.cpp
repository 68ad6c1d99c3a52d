#include "fetch/address_check.h"

#include "base/environment.h"
#include "base/waiting.h"
#include "fetch/limits.h"

#include <QEventLoop>
#include <QHostInfo>
#include <QTimer>

namespace AddressCheck {

namespace {

const QString LocalRefusal = QStringLiteral("address on this computer or the local network");

bool inRange(quint32 ip, quint32 network, int prefix) {
    const quint32 mask = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
    return (ip & mask) == (network & mask);
}

bool isLocalIpv4(quint32 ip) {
    static const struct {
        quint32 network;
        int prefix;
    } ranges[] = {
        {0x00000000, 8},  // "this" network
        {0x0A000000, 8},  // private
        {0x64400000, 10}, // shared address space (carrier-grade NAT)
        {0x7F000000, 8},  // loopback
        {0xA9FE0000, 16}, // link-local
        {0xAC100000, 12}, // private
        {0xC0000000, 24}, // protocol assignments
        {0xC0A80000, 16}, // private
        {0xC6120000, 15}, // benchmarking
        {0xE0000000, 3},  // multicast, reserved and broadcast
    };
    for (const auto& range : ranges)
        if (inRange(ip, range.network, range.prefix))
            return true;
    return false;
}

struct HostPort {
    QString host; // lower case, IPv6 without brackets
    int port = 0;
};

HostPort splitHostPort(const QString& text) {
    const QUrl url(QStringLiteral("https://") + text);
    return {url.host().toLower(), url.port(0)};
}

// The addresses of a name, waiting in an event loop that notices the program's end.
QList<QHostAddress> resolve(const QString& host, QString* error) {
    QHostAddress literal;
    if (literal.setAddress(host))
        return {literal};
    QEventLoop loop;
    QHostInfo answer;
    bool answered = false;
    QObject context;
    const int id = QHostInfo::lookupHost(host, &context, [&](const QHostInfo& info) {
        answer = info;
        answered = true;
        loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&Lifetime::notifier(), &Lifetime::Notifier::ending, &loop, &QEventLoop::quit);
    limit.start(Limits::ResolveSeconds * 1000);
    if (!answered)
        loop.exec();
    if (!answered) {
        QHostInfo::abortHostLookup(id);
        Lifetime::check();
        *error = QStringLiteral("resolving the host name timed out");
        return {};
    }
    if (answer.error() != QHostInfo::NoError || answer.addresses().isEmpty()) {
        *error = QStringLiteral("host name not resolved");
        return {};
    }
    return answer.addresses();
}

} // namespace

bool isLocal(const QHostAddress& address) {
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (mapped)
        return isLocalIpv4(ipv4);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return true; // nothing that is neither IPv4 nor IPv6 is fetched
    const Q_IPV6ADDR ip = address.toIPv6Address();
    const bool allZeroButLast = std::all_of(ip.c, ip.c + 15, [](quint8 byte) { return byte == 0; });
    if (allZeroButLast && (ip[15] == 0 || ip[15] == 1))
        return true;                                    // unspecified, loopback
    return (ip[0] & 0xFE) == 0xFC                       // unique local
           || (ip[0] == 0xFE && (ip[1] & 0xC0) == 0x80) // link-local
           || (ip[0] == 0xFE && (ip[1] & 0xC0) == 0xC0) // site-local (deprecated)
           || ip[0] == 0xFF;                            // multicast
}

QString exemptHostAndPort() {
    return Environment::serviceHost();
}

Target check(const QString& address) {
    Target target;
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        target.refusal = QStringLiteral("not an http or https address");
        return target;
    }
    const QString host = url.host().toLower();
    if (host.isEmpty()) {
        target.refusal = QStringLiteral("no host in the address");
        return target;
    }
    target.port = url.port(scheme == QLatin1String("https") ? 443 : 80);

    const QString exempt = exemptHostAndPort();
    const HostPort allowed = splitHostPort(exempt);
    const bool underLocalhost = host.endsWith(QLatin1String(".localhost"));
    const bool isExempt =
        !exempt.isEmpty() && (allowed.port == 0 || allowed.port == target.port) &&
        (allowed.host == host || (allowed.host == QLatin1String("localhost") && underLocalhost));
    if (!isExempt && (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")))) {
        target.refusal = LocalRefusal;
        return target;
    }

    QString error;
    // Names under "localhost" are this computer's own; resolvers need not know them.
    const QList<QHostAddress> addresses = isExempt && underLocalhost
                                              ? QList<QHostAddress>{QHostAddress(QHostAddress::LocalHost)}
                                              : resolve(host, &error);
    if (addresses.isEmpty()) {
        target.refusal = error;
        return target;
    }
    if (!isExempt) {
        for (const QHostAddress& a : addresses) {
            if (isLocal(a)) {
                target.refusal = LocalRefusal;
                return target;
            }
        }
    }
    // IPv4 first: a machine without an IPv6 route still reaches a host that has both.
    target.address = addresses.first();
    for (const QHostAddress& a : addresses)
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            target.address = a;
            break;
        }
    return target;
}

QString connectTo(const Target& target) {
    const QString host = target.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + target.address.toString() + QLatin1Char(']')
                             : target.address.toString();
    return QStringLiteral("::") + host + QLatin1Char(':') + QString::number(target.port);
}

} // namespace AddressCheck
