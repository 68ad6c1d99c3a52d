#include "image_service.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <csignal>
#include <sys/prctl.h>

namespace {

const char* const EnvironmentNames[] = {"GLIMMERFETCH_SERVICE_HOST", "GLIMMERFETCH_CA_BUNDLE"};

// The certificates are made once per test program and live until it ends.
struct Certificates {
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/image-service-ca-XXXXXX")};
    bool made = false;
    QString error;

    Certificates() {
        if (!dir.isValid()) {
            error = QStringLiteral("no temporary folder for the certificates");
            return;
        }
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start(QStringLiteral("bash"), {QStringLiteral(GLIMMERFETCH_MAKE_TEST_CA), dir.path()});
        if (!script.waitForFinished(30000) || script.exitStatus() != QProcess::NormalExit ||
            script.exitCode() != 0) {
            error = QStringLiteral("make-test-ca failed: ") + QString::fromLocal8Bit(script.readAll());
            return;
        }
        made = true;
    }
    QString file(const char* name) const { return dir.filePath(QLatin1String(name)); }
};

Certificates& certificates() {
    static Certificates c;
    return c;
}

QString decoded(QString part) {
    part.replace(QLatin1Char('+'), QLatin1Char(' '));
    return QUrl::fromPercentEncoding(part.toUtf8());
}

} // namespace

QString ImageService::Request::queryValue(const QString& key) const {
    for (const auto& item : queryItems)
        if (item.first == key)
            return item.second;
    return {};
}

ImageService::ImageService(const QStringList& extraArguments, const QByteArray& catalogJson)
    : dir_(QDir::tempPath() + QStringLiteral("/image-service-XXXXXX")) {
    Certificates& certs = certificates();
    if (!certs.made) {
        error_ = certs.error;
        return;
    }
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder for the service");
        return;
    }
    QStringList arguments{QStringLiteral("--cert"), certs.file("server.pem"),
                          QStringLiteral("--key"),  certs.file("server.key"),
                          QStringLiteral("--log"),  dir_.filePath(QStringLiteral("requests.log"))};
    if (!catalogJson.isEmpty()) {
        QFile catalog(dir_.filePath(QStringLiteral("catalog.json")));
        if (!catalog.open(QIODevice::WriteOnly) || catalog.write(catalogJson) != catalogJson.size()) {
            error_ = QStringLiteral("cannot write the catalogue");
            return;
        }
        arguments << QStringLiteral("--catalog") << catalog.fileName();
    }
    arguments += extraArguments;

    // The service ends with the test program even when that one crashes.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_.start(programPath(), arguments);
    if (!process_.waitForStarted(10000)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(programPath(), process_.errorString());
        return;
    }
    QByteArray line;
    while (!line.contains('\n') && process_.waitForReadyRead(10000))
        line += process_.readAllStandardOutput();
    if (line.startsWith("PORT ")) {
        bool ok = false;
        port_ = quint16(line.mid(5).trimmed().toUInt(&ok));
        if (ok && port_ != 0)
            return;
    }
    process_.waitForFinished(2000);
    error_ = QStringLiteral("the service did not start: ") +
             QString::fromLocal8Bit(process_.readAllStandardError());
    port_ = 0;
    stop();
}

ImageService::~ImageService() {
    stop();
}

void ImageService::stop() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    if (environmentApplied_) {
        for (const char* name : EnvironmentNames) {
            if (hadEnvironment_.value(name))
                qputenv(name, savedEnvironment_.value(name));
            else
                qunsetenv(name);
        }
        environmentApplied_ = false;
    }
}

bool ImageService::isRunning() const {
    return port_ != 0 && process_.state() == QProcess::Running;
}

QString ImageService::host() const {
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

QString ImageService::baseUrl() const {
    return QStringLiteral("https://") + host();
}

QString ImageService::searchUrl(const QString& encodedQuery) const {
    return baseUrl() + QStringLiteral("/api/Search/ImageSearchAPI?") + encodedQuery;
}

QString ImageService::caBundle() {
    return certificates().file("ca.pem");
}

QString ImageService::validKey() {
    return QStringLiteral("demo-key-0123456789");
}

QString ImageService::quotaKey() {
    return QStringLiteral("spent-key-0123456789");
}

QString ImageService::programPath() {
    return QStringLiteral(GLIMMERFETCH_IMAGE_SERVICE);
}

QList<ImageService::Request> ImageService::requests() const {
    QList<Request> out;
    QFile log(dir_.filePath(QStringLiteral("requests.log")));
    if (!log.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        Request r;
        r.method = o.value(QLatin1String("method")).toString();
        r.path = o.value(QLatin1String("path")).toString();
        r.query = o.value(QLatin1String("query")).toString();
        for (const QString& item : r.query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
            const qsizetype eq = item.indexOf(QLatin1Char('='));
            r.queryItems.append(
                {decoded(eq < 0 ? item : item.left(eq)), eq < 0 ? QString() : decoded(item.mid(eq + 1))});
        }
        const QJsonObject headers = o.value(QLatin1String("headers")).toObject();
        for (auto it = headers.begin(); it != headers.end(); ++it)
            r.headers.insert(it.key(), it.value().toString());
        r.body = o.value(QLatin1String("body")).toString().toUtf8();
        r.openPictures = o.value(QLatin1String("openPictures")).toInt();
        out.append(r);
    }
    return out;
}

QList<ImageService::Request> ImageService::searchRequests() const {
    QList<Request> out;
    for (const Request& r : requests())
        if (r.path == QLatin1String("/api/Search/ImageSearchAPI"))
            out.append(r);
    return out;
}

void ImageService::clearRequests() {
    // The service appends to the log, so cutting it to nothing is safe while it runs.
    QFile log(dir_.filePath(QStringLiteral("requests.log")));
    if (log.exists())
        log.resize(0);
}

QByteArray ImageService::pictureBytes(const QString& url) {
    QProcess render;
    render.start(programPath(), {QStringLiteral("--render"), url});
    if (!render.waitForFinished(60000))
        return {};
    return render.readAllStandardOutput();
}

void ImageService::applyToEnvironment() {
    if (!environmentApplied_) {
        for (const char* name : EnvironmentNames) {
            hadEnvironment_[name] = qEnvironmentVariableIsSet(name);
            savedEnvironment_[name] = qgetenv(name);
        }
    }
    environmentApplied_ = true;
    qputenv("GLIMMERFETCH_SERVICE_HOST", host().toUtf8());
    qputenv("GLIMMERFETCH_CA_BUNDLE", caBundle().toUtf8());
}

int ImageService::curl(const QStringList& arguments, QByteArray* body, int* status,
                       QString* contentType) const {
    QTemporaryDir scratch;
    QProcess curl;
    curl.start(QStringLiteral("curl"),
               QStringList{QStringLiteral("-sS"), QStringLiteral("--cacert"), caBundle(),
                           QStringLiteral("-w"), QStringLiteral("%{http_code} %{content_type}"),
                           QStringLiteral("--output"), scratch.filePath(QStringLiteral("body"))} +
                   arguments);
    if (!curl.waitForFinished(120000)) {
        curl.kill();
        curl.waitForFinished();
        return -1;
    }
    const QByteArray out = curl.readAllStandardOutput();
    if (status)
        *status = out.left(3).toInt();
    if (contentType)
        *contentType = QString::fromUtf8(out.mid(4));
    if (body) {
        QFile f(scratch.filePath(QStringLiteral("body")));
        *body = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    return curl.exitStatus() == QProcess::NormalExit ? curl.exitCode() : -1;
}
