#pragma once

#include <QHostAddress>
#include <QString>
#include <QUrl>

// Where a picture download may go. An answer, or a redirect in it, must not make the program reach
// services on the user's own computer or local network: only http and https addresses whose host
// resolves to public addresses are fetched, and curl is pinned to the address that was checked, so
// a name cannot resolve to something else between the check and the request.
namespace AddressCheck {

// True for addresses that are not on the public internet: unspecified, loopback, link-local,
// private ranges (10/8, 172.16/12, 192.168/16, 100.64/10 shared, fc00::/7 unique local), multicast
// and broadcast; IPv4 addresses written in IPv6 are judged as IPv4.
bool isLocal(const QHostAddress& address);

// The one host and port that is let through even though it is local: GLIMMERFETCH_SERVICE_HOST
// ("host:port" or "host"), the local image service of the demo and the tests. "" when unset. When
// it is "localhost", the names under it ("pics-1.localhost") at the same port are let through too,
// as the loopback address: a test can so serve pictures from several host names.
QString exemptHostAndPort();

// A checked target: where curl must connect for this address.
struct Target {
    QString refusal;      // "" when the address may be fetched, else why not (for the end report)
    QHostAddress address; // the checked address curl is pinned to
    int port = 0;
};

// Checks one address (the answer's or a redirect's). Host names are resolved (waiting in the
// window's event loop, at most Limits::ResolveSeconds); every address a name resolves to must be
// public. Throws ProgramEnding when the program ends meanwhile.
Target check(const QString& address);

// The curl option value that pins every connection of a request to the checked target:
// "::ADDRESS:PORT" for --connect-to (IPv6 in brackets).
QString connectTo(const Target& target);

} // namespace AddressCheck
