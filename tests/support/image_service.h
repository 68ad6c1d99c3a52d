// The local image service for tests: starts tools/image-service over real HTTPS on 127.0.0.1 with a
// throwaway certificate authority, reads its port, and reads back the requests it received.
//
//     ImageService service;                       // or ImageService service({}, catalogJson);
//     QVERIFY2(service.isRunning(), qPrintable(service.errorText()));
//     service.applyToEnvironment();               // GLIMMERFETCH_SERVICE_HOST, GLIMMERFETCH_CA_BUNDLE
//     ... run the program's requests ...
//     const auto requests = service.requests();
//
// The service is stopped when the object goes, and the environment restored.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class ImageService {
public:
    // One request as the service received it.
    struct Request {
        QString method;
        QString path;                              // as sent, still percent-encoded
        QString query;                             // as sent, without "?", still percent-encoded
        QList<QPair<QString, QString>> queryItems; // decoded ("+" and %XX), in order
        QMap<QString, QString> headers;            // lower-case names
        QByteArray body;
        int openPictures = 0; // a picture request: those to its Host open as it came, itself included

        QString header(const QString& name) const { return headers.value(name.toLower()); }
        QString queryValue(const QString& key) const;
        bool hasHeader(const QString& name) const { return headers.contains(name.toLower()); }
    };

    // extraArguments go to the service as they are (e.g. {"--valid-key", "k1"}); catalogJson, when not
    // empty, is written to a file and given with --catalog.
    explicit ImageService(const QStringList& extraArguments = {}, const QByteArray& catalogJson = {});
    ~ImageService();
    ImageService(const ImageService&) = delete;
    ImageService& operator=(const ImageService&) = delete;

    bool isRunning() const;
    QString errorText() const { return error_; } // why it did not start, with the service's stderr

    quint16 port() const { return port_; }
    QString host() const;    // "127.0.0.1:PORT"
    QString baseUrl() const; // "https://127.0.0.1:PORT"
    // The search address with a query as the program sends it (key not included: it goes in a header).
    QString searchUrl(const QString& encodedQuery) const;

    static QString caBundle(); // ca.pem of this test program's throwaway authority
    static QString validKey(); // "demo-key-0123456789" (unless --valid-key was given)
    static QString quotaKey(); // "spent-key-0123456789" (unless --quota-key was given): HTTP 429
    static QString programPath();

    QList<Request> requests() const;
    QList<Request> searchRequests() const; // only those to /api/Search/ImageSearchAPI
    void clearRequests();

    // The exact bytes the service sends for a picture address (no request is made or logged).
    static QByteArray pictureBytes(const QString& url);

    // Points the program at this service: GLIMMERFETCH_SERVICE_HOST=host(),
    // GLIMMERFETCH_CA_BUNDLE=caBundle(). The previous values come back when the service is stopped.
    void applyToEnvironment();

    // Runs curl against the service (with --cacert); returns curl's exit code, the body in *body and
    // the HTTP status in *status and the Content-Type in *contentType. For tests of the service itself
    // and quick checks; do not pass --output or -w.
    int curl(const QStringList& arguments, QByteArray* body, int* status = nullptr,
             QString* contentType = nullptr) const;

    void stop();

private:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
    QString error_;
    bool environmentApplied_ = false;
    QMap<QByteArray, QByteArray> savedEnvironment_;
    QMap<QByteArray, bool> hadEnvironment_;
};
