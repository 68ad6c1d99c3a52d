// The HTTPS side of the local image service: one request per connection, answered and closed.
#pragma once

#include "replies.h"

#include <QFile>
#include <QObject>
#include <QSslConfiguration>
#include <QSslServer>

class QSslSocket;
class QTimer;

namespace ImageService {

class Server : public QObject {
    Q_OBJECT
public:
    Server(Settings settings, const QString& logPath, QObject* parent = nullptr);

    // Listens on 127.0.0.1 only. Returns false and sets error when it cannot.
    bool listen(quint16 port, const QSslConfiguration& tls, QString* error);
    quint16 port() const { return server_.serverPort(); }

    const Settings& settings() const { return settings_; }

    // Appends one line of compact JSON to the request log, when there is one. A picture request's
    // line says how many picture requests to the same Host were open then, this one included.
    void record(const Request& request, int openPictures = 0);

    // Picture requests being answered, per Host header (lower case): opened when the request is
    // read, closed with the connection. Returns the count after the change.
    int openPicture(const QByteArray& host);
    void closePicture(const QByteArray& host);

private:
    void takeConnections();

    QSslServer server_;
    Settings settings_;
    QFile log_;
    QHash<QByteArray, int> openPictures_;
};

// One client connection: reads one request, records it, sends the reply and closes.
class Connection : public QObject {
    Q_OBJECT
public:
    Connection(QSslSocket* socket, Server* server);

private:
    void readMore();
    bool parseHead(qsizetype end);
    void fail(int status);
    void send(const Reply& reply);
    void sendHead(int status, const QByteArray& contentType, qint64 length,
                  const QList<QPair<QByteArray, QByteArray>>& extra);
    void pump();
    void finish();

    QSslSocket* socket_;
    Server* server_;
    QByteArray buffer_;
    Request request_;
    bool headRead_ = false;
    bool answered_ = false;
    qint64 bodyLength_ = 0;

    Reply reply_;
    qint64 sent_ = 0; // body bytes written so far
    QTimer* trickle_ = nullptr;
    QTimer* idle_ = nullptr;
    QByteArray pictureHost_; // the Host of an open picture request (empty: none)
};

} // namespace ImageService
