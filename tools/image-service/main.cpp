// glimmerfetch-image-service: a local stand-in for the hosted image search service, for the tests and
// the demo. HTTPS on 127.0.0.1 only; prints "PORT <n>" as its first line and serves until it is ended.
#include "replies.h"
#include "server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto ignored = ::write(signalPipe[1], &c, 1);
}

int failWith(const QString& text) {
    std::fprintf(stderr, "glimmerfetch-image-service: %s\n", qPrintable(text));
    return 2;
}

QSslKey readKey(const QByteArray& pem) {
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return {};
}

QByteArray readFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    return file.readAll();
}

// Writes the body that a picture address serves to stdout: slow bodies in full, cut-off ones as cut,
// redirects followed.
int render(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    const QByteArray encoded = url.isValid() && !url.scheme().isEmpty()
                                   ? url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority |
                                                   QUrl::RemoveQuery | QUrl::RemoveFragment)
                                   : address.section(QLatin1Char('?'), 0, 0).toUtf8();
    QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
    ImageService::Reply reply = ImageService::pictureReply(path, {}, QStringLiteral("127.0.0.1"));
    // Redirects are followed as curl -L follows them (a loop ends on its tenth answer).
    for (int hop = 0; hop < 10 && reply.status == 302 && !reply.headers.isEmpty(); ++hop) {
        path = QUrl(QString::fromUtf8(reply.headers.first().second)).path();
        reply = ImageService::pictureReply(path, {}, QStringLiteral("127.0.0.1"));
    }
    QByteArray body = reply.body;
    std::fwrite(body.constData(), 1, size_t(body.size()), stdout);
    if (reply.mode == ImageService::Reply::Mode::Huge)
        for (qint64 at = body.size(); at < reply.totalLength; at += 1 << 20) {
            const QByteArray part =
                ImageService::fillerBytes(at, qMin<qint64>(1 << 20, reply.totalLength - at));
            std::fwrite(part.constData(), 1, size_t(part.size()), stdout);
        }
    std::fflush(stdout);
    return reply.status >= 400 ? 1 : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glimmerfetch-image-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A local HTTPS stand-in for the image search service."));
    parser.addHelpOption();
    const QCommandLineOption certOption(QStringLiteral("cert"), QStringLiteral("Server certificate (PEM)."),
                                        QStringLiteral("file"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("Server private key (PEM)."),
                                       QStringLiteral("file"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port (0: chosen by the system)."),
                                        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Append one JSON line per request to this file."),
                                       QStringLiteral("file"));
    const QCommandLineOption validOption(QStringLiteral("valid-key"),
                                         QStringLiteral("A key that may search (repeatable)."),
                                         QStringLiteral("key"));
    const QCommandLineOption quotaOption(QStringLiteral("quota-key"),
                                         QStringLiteral("A key whose monthly quota is spent (repeatable)."),
                                         QStringLiteral("key"));
    const QCommandLineOption catalogOption(QStringLiteral("catalog"),
                                           QStringLiteral("JSON file with the results per keyword."),
                                           QStringLiteral("file"));
    const QCommandLineOption renderOption(
        QStringLiteral("render"),
        QStringLiteral("Write the body served for a picture address to stdout and exit."),
        QStringLiteral("address"));
    const QCommandLineOption latencyOption(
        QStringLiteral("latency"),
        QStringLiteral("Hold every picture's answer back this many milliseconds (a distant server)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption searchLatencyOption(
        QStringLiteral("search-latency"),
        QStringLiteral("Hold every search answer back this many milliseconds (a distant service)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption unavailableOption(
        QStringLiteral("unavailable"),
        QStringLiteral("Answer every search of this source with 503 (openverse, commons, pexels, pixabay; "
                       "repeatable)."),
        QStringLiteral("source"));
    parser.addOptions({certOption, keyOption, portOption, logOption, validOption, quotaOption, catalogOption,
                       renderOption, latencyOption, searchLatencyOption, unavailableOption});
    parser.process(app);

    if (parser.isSet(renderOption))
        return render(parser.value(renderOption));

    ImageService::Settings settings;
    const QStringList valid = parser.isSet(validOption) ? parser.values(validOption)
                                                        : QStringList{QStringLiteral("demo-key-0123456789")};
    const QStringList quota = parser.isSet(quotaOption) ? parser.values(quotaOption)
                                                        : QStringList{QStringLiteral("spent-key-0123456789")};
    settings.validKeys = QSet<QString>(valid.begin(), valid.end());
    settings.quotaKeys = QSet<QString>(quota.begin(), quota.end());
    const QStringList unavailable = parser.values(unavailableOption);
    settings.unavailable = QSet<QString>(unavailable.begin(), unavailable.end());

    for (const auto& [option, ms] : {std::pair{&latencyOption, &settings.latencyMs},
                                     std::pair{&searchLatencyOption, &settings.searchLatencyMs}}) {
        bool ok = false;
        *ms = parser.value(*option).toInt(&ok);
        if (!ok || *ms < 0 || *ms > 600000)
            return failWith(
                QStringLiteral("--%1 wants milliseconds from 0 to 600000").arg(option->names().first()));
    }

    QString error;
    if (parser.isSet(catalogOption)) {
        const QByteArray json = readFile(parser.value(catalogOption), &error);
        if (!error.isEmpty())
            return failWith(error);
        if (!settings.catalog.load(json, &error))
            return failWith(QStringLiteral("catalogue %1: %2").arg(parser.value(catalogOption), error));
    }

    if (parser.value(certOption).isEmpty() || parser.value(keyOption).isEmpty())
        return failWith(QStringLiteral("--cert and --key are required (scripts/make-test-ca makes them)"));
    if (!QSslSocket::supportsSsl())
        return failWith(QStringLiteral("this Qt has no TLS backend"));
    const QByteArray certPem = readFile(parser.value(certOption), &error);
    const QByteArray keyPem = error.isEmpty() ? readFile(parser.value(keyOption), &error) : QByteArray();
    if (!error.isEmpty())
        return failWith(error);
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certPem, QSsl::Pem);
    const QSslKey key = readKey(keyPem);
    if (chain.isEmpty() || key.isNull())
        return failWith(QStringLiteral("cannot use the certificate or key"));

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return failWith(QStringLiteral("--port wants a number from 0 to 65535"));

    ImageService::Server server(std::move(settings), parser.value(logOption));
    if (!server.listen(quint16(port), tls, &error))
        return failWith(error);

    // SIGTERM and SIGINT end the event loop, so the log is closed and the port released cleanly.
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return failWith(QStringLiteral("cannot make the signal pipe"));
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("PORT %u\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
