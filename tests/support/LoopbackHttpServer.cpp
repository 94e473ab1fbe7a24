#include "LoopbackHttpServer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace mirvo::test {

namespace {

constexpr qint64 streamChunkBytes = 64 * 1024;
constexpr qint64 maximumQueuedBytes = 4 * streamChunkBytes;
constexpr qint64 trickleChunkBytes = 64;
constexpr qsizetype maximumHeadBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// Hands out sockets that speak TLS as the server side.
class TlsServer : public QTcpServer {
public:
    TlsServer()
    {
        const QString directory = QStringLiteral(DATA_DIR "/tls/");
        m_certificate = QSslCertificate::fromPath(directory + u"server.pem"_s).value(0);
        QFile keyFile(directory + u"server.key"_s);
        if (keyFile.open(QIODevice::ReadOnly))
            m_key = QSslKey(&keyFile, QSsl::Rsa);
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        socket->startServerEncryption();
        addPendingConnection(socket);
    }

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
};

} // namespace

QByteArray LoopbackHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& [field, value] : headers) {
        if (field.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

LoopbackHttpServer::LoopbackHttpServer(Scheme scheme, QObject* parent)
    : QObject(parent)
    , m_scheme(scheme)
    , m_server(scheme == Scheme::Https ? std::make_unique<TlsServer>() : std::make_unique<QTcpServer>())
{
    connect(m_server.get(), &QTcpServer::newConnection, this, &LoopbackHttpServer::accept);
    m_server->listen(QHostAddress::LocalHost);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // The sockets are children of the server; forget them before they go.
    const QList<QTcpSocket*> sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool LoopbackHttpServer::isListening() const
{
    return m_server->isListening();
}

quint16 LoopbackHttpServer::port() const
{
    return m_server->serverPort();
}

int LoopbackHttpServer::connectionsInUse() const
{
    return int(std::count_if(m_connections.cbegin(), m_connections.cend(),
                             [](const Connection& connection) { return connection.answered; }));
}

QUrl LoopbackHttpServer::url(const QString& target) const
{
    const QString scheme = m_scheme == Scheme::Https ? u"https"_s : u"http"_s;
    return QUrl(scheme + u"://127.0.0.1:"_s + QString::number(port()) + target);
}

void LoopbackHttpServer::setRoute(const QByteArray& target, Route route)
{
    m_routes.insert(target, std::move(route));
}

void LoopbackHttpServer::setRedirect(const QByteArray& target, const QUrl& location, int status)
{
    Route route;
    route.status = status;
    route.headers.append({"Location", location.toEncoded()});
    setRoute(target, std::move(route));
}

quint16 LoopbackHttpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QString LoopbackHttpServer::certificateAuthorityPath()
{
    return QStringLiteral(DATA_DIR "/tls/ca.pem");
}

void LoopbackHttpServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, Connection{});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            // A trickle goes at its own pace, not as fast as the client reads.
            if (m_connections.value(socket).intervalMs == 0)
                stream(socket);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
        read(socket);
    }
}

void LoopbackHttpServer::read(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    if (found->answered) {
        // Drained, so that closing the connection does not reset it and lose the answer on its way.
        socket->readAll();
        return;
    }
    found->received += socket->readAll();
    const qsizetype end = found->received.indexOf("\r\n\r\n");
    if (end < 0) {
        if (found->received.size() > maximumHeadBytes)
            socket->abort();
        return;
    }
    found->answered = true;

    const QList<QByteArray> lines = found->received.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    m_requests.append(request);

    const QByteArray path = request.target.left(request.target.indexOf('?'));
    Route route;
    if (auto exact = m_routes.constFind(request.target); exact != m_routes.cend())
        route = *exact;
    else if (auto byPath = m_routes.constFind(path); byPath != m_routes.cend())
        route = *byPath;
    else
        route = Route::answering(404, "not found", {{"Content-Type", "text/plain"}});

    if (route.delayMs > 0)
        QTimer::singleShot(route.delayMs, socket, [this, socket, route] { answer(socket, route); });
    else
        answer(socket, route);
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const Route& route)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;

    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + reasonPhrase(route.status) + "\r\n";
    for (const auto& [name, value] : route.headers)
        head += name + ": " + value + "\r\n";
    if (route.streamedBytes) {
        found->remaining = *route.streamedBytes;
        found->chunked = route.chunked;
        found->intervalMs = route.chunkIntervalMs;
        if (route.chunked)
            head += "Transfer-Encoding: chunked\r\n";
    } else {
        head +=
            "Content-Length: " + QByteArray::number(route.contentLength.value_or(route.body.size())) + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (route.streamedBytes) {
        stream(socket);
        return;
    }
    socket->write(route.body);
    socket->disconnectFromHost();
}

void LoopbackHttpServer::stream(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end() || !found->answered || found->remaining <= 0)
        return;
    const bool trickle = found->intervalMs > 0;
    while (found->remaining > 0 && socket->bytesToWrite() < maximumQueuedBytes) {
        const qint64 size = std::min(found->remaining, trickle ? trickleChunkBytes : streamChunkBytes);
        const QByteArray data(size, 'x');
        if (found->chunked)
            socket->write(QByteArray::number(size, 16) + "\r\n" + data + "\r\n");
        else
            socket->write(data);
        found->remaining -= size;
        m_streamedBytesSent += size;
        if (trickle) {
            if (found->remaining > 0) {
                QTimer::singleShot(found->intervalMs, socket, [this, socket] { stream(socket); });
                return;
            }
            break;
        }
    }
    if (found->remaining == 0) {
        if (found->chunked)
            socket->write("0\r\n\r\n");
        socket->disconnectFromHost();
    }
}

} // namespace mirvo::test
