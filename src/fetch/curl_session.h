#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QTemporaryDir;

// curl and its files for the length of one download run or key test: a private folder (mode 0700)
// under the platform's temporary folder, named with the process id so that a later start can tell
// a dead process's folder, holding the CA bundle "curl-ca-bundle.crt" and the search answer
// "message.txt". The folder goes with the session, also when a wait unwinds because the program is
// ending.
//
//     std::optional<CurlSession> curl;
//     trap(104, [&] { curl.emplace(); });
//     ...
//     trap(130, [&] { curl.reset(); });
class CurlSession {
public:
    // Makes the folder and writes the bundle: the file named by GLIMMERFETCH_CA_BUNDLE when that is
    // set, else the system's CA certificates. The tool is the system's curl, found on PATH (a bare
    // "curl" when PATH has none, so that the start fails like a missing tool). Throws AppError, its
    // description naming the folder or the bundle and the system's reason, when the folder or the
    // bundle cannot be written; nothing is left behind then.
    CurlSession();
    ~CurlSession();
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    QString folder() const;
    QString caBundle() const;
    // The path of the search answer file, without quotes.
    QString responseFile() const;
    // The unquoted path of the curl tool.
    QString program() const { return program_; }
    // The quoted path ("\"/usr/bin/curl\""): the first token of every command text.
    QString command() const;
    // The arguments every curl command starts with: "-q" (no ~/.curlrc or other configuration of the
    // user's is read; curl takes it only as its first argument), then "--cacert" and the bundle (curl
    // on Linux does not look for a bundle beside itself).
    QStringList commonArguments() const;

private:
    std::unique_ptr<QTemporaryDir> folder_;
    QString program_;
};
