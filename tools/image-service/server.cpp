#include "server.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTimer>

namespace ImageService {

namespace {

constexpr qsizetype MaxHead = 64 * 1024;
constexpr qint64 MaxBody = 8 * 1024 * 1024;
constexpr qint64 HugeChunk = 256 * 1024;
constexpr int IdleLimitMs = 30000;

} // namespace

Server::Server(Settings settings, const QString& logPath, QObject* parent)
    : QObject(parent)
    , settings_(std::move(settings)) {
    if (!logPath.isEmpty()) {
        log_.setFileName(logPath);
        log_.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    connect(&server_, &QSslServer::pendingConnectionAvailable, this, &Server::takeConnections);
}

bool Server::listen(quint16 port, const QSslConfiguration& tls, QString* error) {
    if (!log_.fileName().isEmpty() && !log_.isOpen()) {
        *error = QStringLiteral("cannot open the log %1: %2").arg(log_.fileName(), log_.errorString());
        return false;
    }
    server_.setSslConfiguration(tls);
    if (!server_.listen(QHostAddress::LocalHost, port)) {
        *error = server_.errorString();
        return false;
    }
    return true;
}

void Server::takeConnections() {
    while (server_.hasPendingConnections()) {
        auto* socket = qobject_cast<QSslSocket*>(server_.nextPendingConnection());
        if (socket)
            new Connection(socket, this);
    }
}

int Server::openPicture(const QByteArray& host) {
    return ++openPictures_[host];
}

void Server::closePicture(const QByteArray& host) {
    if (--openPictures_[host] <= 0)
        openPictures_.remove(host);
}

void Server::record(const Request& request, int openPictures) {
    if (!log_.isOpen())
        return;
    QJsonObject headers;
    for (auto it = request.headers.begin(); it != request.headers.end(); ++it)
        headers.insert(QString::fromLatin1(it.key()), QString::fromUtf8(it.value()));
    QJsonObject line{{QStringLiteral("method"), QString::fromLatin1(request.method)},
                     {QStringLiteral("path"), QString::fromUtf8(request.rawPath)},
                     {QStringLiteral("query"), QString::fromUtf8(request.rawQuery)},
                     {QStringLiteral("headers"), headers},
                     {QStringLiteral("body"), QString::fromUtf8(request.body)}};
    if (openPictures > 0)
        line.insert(QStringLiteral("openPictures"), openPictures);
    log_.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    log_.flush();
}

Connection::Connection(QSslSocket* socket, Server* server)
    : QObject(server)
    , socket_(socket)
    , server_(server) {
    socket_->setParent(this);
    request_.localPort = server->port();
    connect(socket_, &QSslSocket::readyRead, this, &Connection::readMore);
    connect(socket_, &QSslSocket::disconnected, this, &Connection::finish);
    connect(socket_, &QSslSocket::encryptedBytesWritten, this, &Connection::pump);
    // A client that never finishes its request does not hold the connection for ever.
    idle_ = new QTimer(this);
    idle_->setSingleShot(true);
    connect(idle_, &QTimer::timeout, this, [this] {
        socket_->abort();
        finish();
    });
    idle_->start(IdleLimitMs);
    if (socket_->state() != QAbstractSocket::ConnectedState)
        QTimer::singleShot(0, this, &Connection::finish);
    else if (socket_->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &Connection::readMore);
}

void Connection::readMore() {
    if (answered_)
        return;
    buffer_ += socket_->readAll();
    if (!headRead_) {
        const qsizetype end = buffer_.indexOf("\r\n\r\n");
        if (end < 0) {
            if (buffer_.size() > MaxHead)
                fail(431);
            return;
        }
        if (!parseHead(end))
            return;
    }
    if (buffer_.size() < bodyLength_)
        return;
    request_.body = buffer_.left(bodyLength_);
    answered_ = true;
    idle_->stop();
    int open = 0;
    if (request_.rawPath.startsWith("/img/")) {
        pictureHost_ = request_.header("host").toLower();
        if (pictureHost_.isEmpty())
            pictureHost_ = "-";
        open = server_->openPicture(pictureHost_);
    }
    server_->record(request_, open);
    send(replyTo(request_, server_->settings()));
}

bool Connection::parseHead(qsizetype end) {
    const QList<QByteArray> lines = buffer_.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    if (first.size() != 3 || !first.at(2).startsWith("HTTP/1.")) {
        fail(400);
        return false;
    }
    request_.method = first.at(0);
    request_.target = first.at(1);
    const qsizetype mark = request_.target.indexOf('?');
    request_.rawPath = mark < 0 ? request_.target : request_.target.left(mark);
    request_.rawQuery = mark < 0 ? QByteArray() : request_.target.mid(mark + 1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (request_.headers.contains(name))
            request_.headers[name] += ", " + value;
        else
            request_.headers.insert(name, value);
    }
    buffer_.remove(0, end + 4);
    headRead_ = true;

    if (request_.header("transfer-encoding").toLower().contains("chunked")) {
        fail(411);
        return false;
    }
    bool ok = true;
    const QByteArray length = request_.header("content-length");
    bodyLength_ = length.isEmpty() ? 0 : length.toLongLong(&ok);
    if (!ok || bodyLength_ < 0) {
        fail(400);
        return false;
    }
    if (bodyLength_ > MaxBody) {
        fail(413);
        return false;
    }
    if (bodyLength_ > buffer_.size() && request_.header("expect").toLower() == "100-continue")
        socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
    return true;
}

void Connection::fail(int status) {
    answered_ = true;
    idle_->stop();
    Reply r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.body = "<html><body>" + QByteArray::number(status) + " " + reasonPhrase(status) + "</body></html>\n";
    send(r);
}

void Connection::sendHead(int status, const QByteArray& contentType, qint64 length,
                          const QList<QPair<QByteArray, QByteArray>>& extra) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        head += "Content-Type: " + contentType + "\r\n";
    if (length >= 0)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto& h : extra)
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket_->write(head);
}

void Connection::send(const Reply& reply) {
    if (reply.delayMs > 0) {
        Reply later = reply;
        later.delayMs = 0;
        QTimer::singleShot(reply.delayMs, this, [this, later] { send(later); });
        return;
    }
    reply_ = reply;
    if (request_.method == "HEAD") {
        const qint64 length = reply.mode == Reply::Mode::Huge     ? reply.totalLength
                              : reply.mode == Reply::Mode::Cutoff ? reply.declaredLength
                                                                  : reply.body.size();
        sendHead(reply.status, reply.contentType, length, reply.headers);
        reply_.mode = Reply::Mode::Whole;
        socket_->disconnectFromHost();
        return;
    }
    switch (reply.mode) {
    case Reply::Mode::Whole:
        sendHead(reply.status, reply.contentType, reply.body.size(), reply.headers);
        socket_->write(reply.body);
        socket_->disconnectFromHost();
        break;
    case Reply::Mode::Cutoff:
        sendHead(reply.status, reply.contentType, reply.declaredLength, reply.headers);
        socket_->write(reply.body);
        socket_->disconnectFromHost();
        break;
    case Reply::Mode::Slow:
        sendHead(reply.status, reply.contentType, reply.body.size(), reply.headers);
        trickle_ = new QTimer(this);
        trickle_->setInterval(reply.intervalMs > 0 ? reply.intervalMs : 250);
        connect(trickle_, &QTimer::timeout, this, [this] {
            const qint64 step = reply_.intervalMs > 0 ? 1 : qMax(1, reply_.rate / 4);
            socket_->write(reply_.body.mid(sent_, step));
            sent_ += step;
            if (sent_ >= reply_.body.size()) {
                trickle_->stop();
                socket_->disconnectFromHost();
            }
        });
        trickle_->start();
        break;
    case Reply::Mode::Huge:
        sendHead(reply.status, reply.contentType, reply.announced ? reply.totalLength : -1, reply.headers);
        socket_->write(reply.body);
        sent_ = reply.body.size();
        pump();
        break;
    }
}

// Keeps a huge body flowing without holding more than a few pieces of it in memory.
void Connection::pump() {
    if (reply_.mode != Reply::Mode::Huge || !answered_ || socket_->state() != QAbstractSocket::ConnectedState)
        return;
    while (sent_ < reply_.totalLength &&
           socket_->bytesToWrite() + socket_->encryptedBytesToWrite() < 2 * HugeChunk) {
        const qint64 n = qMin(HugeChunk, reply_.totalLength - sent_);
        socket_->write(fillerBytes(sent_, n));
        sent_ += n;
    }
    if (sent_ >= reply_.totalLength)
        socket_->disconnectFromHost();
}

void Connection::finish() {
    if (trickle_)
        trickle_->stop();
    if (!pictureHost_.isEmpty()) {
        server_->closePicture(pictureHost_);
        pictureHost_.clear();
    }
    reply_.mode = Reply::Mode::Whole;
    deleteLater();
}

} // namespace ImageService
