#include "fetch/curl_session.h"

#include "base/environment.h"
#include "base/error_report.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const QString BundleName = QStringLiteral("curl-ca-bundle.crt");
const QString ResponseName = QStringLiteral("message.txt");

// Where Debian, Fedora and others keep the system's CA certificates as one PEM file.
const char* const SystemBundles[] = {
    "/etc/ssl/certs/ca-certificates.crt",
    "/etc/pki/tls/certs/ca-bundle.crt",
    "/etc/ssl/cert.pem",
};

QString bundleSource() {
    const QString chosen = Environment::caBundle();
    if (!chosen.isEmpty())
        return chosen;
    for (const char* path : SystemBundles) {
        if (QFileInfo(QString::fromLatin1(path)).isReadable())
            return QString::fromLatin1(path);
    }
    return QString::fromLatin1(SystemBundles[0]);
}

} // namespace

CurlSession::CurlSession() {
    // The process id lets a later start remove the folder of a process that was killed.
    const QString temp = QDir::tempPath();
    const auto tempUnusable = [&](const QString& reason) {
        return AppError(QStringLiteral("the temporary folder %1 cannot take curl's files (%2)")
                            .arg(QDir::toNativeSeparators(temp), reason));
    };
    auto made = std::make_unique<QTemporaryDir>(
        temp + QStringLiteral("/glimmerfetch-%1-XXXXXX").arg(QCoreApplication::applicationPid()));
    if (!made->isValid())
        throw tempUnusable(made->errorString());
    made->setAutoRemove(true);
    // QTemporaryDir makes the folder for its owner only; say so explicitly all the same.
    QFile::setPermissions(made->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QFile source(bundleSource());
    if (!source.open(QIODevice::ReadOnly)) // `made` goes, with the folder
        throw AppError(QStringLiteral("the CA certificates %1 cannot be read (%2)")
                           .arg(QDir::toNativeSeparators(source.fileName()), source.errorString()));
    const QByteArray pem = source.readAll();
    QFile bundle(made->filePath(BundleName));
    if (!bundle.open(QIODevice::WriteOnly) || bundle.write(pem) != pem.size() || !bundle.flush())
        throw tempUnusable(bundle.errorString());
    bundle.close();

    program_ = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (program_.isEmpty())
        program_ = QStringLiteral("curl");
    folder_ = std::move(made);
}

CurlSession::~CurlSession() = default; // the folder goes with everything curl wrote into it

QString CurlSession::folder() const {
    return folder_->path();
}

QString CurlSession::caBundle() const {
    return folder_->filePath(BundleName);
}

QString CurlSession::responseFile() const {
    return folder_->filePath(ResponseName);
}

QString CurlSession::command() const {
    return QLatin1Char('"') + program_ + QLatin1Char('"');
}

QStringList CurlSession::commonArguments() const {
    // "-q" must come first: curl then reads no configuration of the user's (~/.curlrc could make it
    // follow redirects the program checks itself, use a proxy or add headers).
    return {QStringLiteral("-q"), QStringLiteral("--cacert"), caBundle()};
}
