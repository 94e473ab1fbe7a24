#include "LoopbackHttpServer.h"

#include <QFile>
#include <QMutexLocker>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <zlib.h>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace mirvo::test {

namespace {

constexpr qint64 streamChunkBytes = 64 * 1024;
constexpr qint64 maximumQueuedBytes = 4 * streamChunkBytes;
constexpr qsizetype maximumHeadBytes = 64 * 1024;

// One block of header lines, each "X-Filler-NNNNN: xxx...\r\n", 64 bytes long.
const QByteArray& headerLineBlock()
{
    static const QByteArray block = [] {
        QByteArray lines;
        for (int i = 0; lines.size() < streamChunkBytes; ++i) {
            QByteArray line = "X-Filler-" + QByteArray::number(i).rightJustified(5, '0') + ": ";
            line += QByteArray(62 - line.size(), 'x') + "\r\n";
            lines += line;
        }
        return lines.left(streamChunkBytes);
    }();
    return block;
}

// What the socket has yet to send; over TLS what it has encrypted already counts too.
qint64 queuedBytes(QTcpSocket* socket)
{
    const auto* secure = qobject_cast<QSslSocket*>(socket);
    return socket->bytesToWrite() + (secure ? secure->encryptedBytesToWrite() : 0);
}

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
    TlsServer() { use(u"server"_s); }

    void use(const QString& name)
    {
        const QString directory = QStringLiteral(DATA_DIR "/tls/");
        m_certificate = QSslCertificate::fromPath(directory + name + u".pem"_s).value(0);
        QFile keyFile(directory + name + u".key"_s);
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
    , m_context(new QObject)
{
    m_context->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            m_server = m_scheme == Scheme::Https ? new TlsServer : new QTcpServer;
            m_server->setParent(m_context);
            connect(m_server, &QTcpServer::newConnection, m_server, [this] { accept(); });
            if (m_server->listen(QHostAddress::LocalHost))
                m_port = m_server->serverPort();
        },
        Qt::BlockingQueuedConnection);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            // The sockets are children of the server; forget them before they go.
            const QList<QTcpSocket*> sockets = m_connections.keys();
            m_connections.clear();
            for (QTcpSocket* socket : sockets) {
                socket->disconnect();
                socket->abort();
            }
            delete m_server;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool LoopbackHttpServer::isListening() const
{
    return m_port != 0;
}

quint16 LoopbackHttpServer::port() const
{
    return m_port;
}

QList<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const
{
    const QMutexLocker locker(&m_mutex);
    return m_requests;
}

int LoopbackHttpServer::connectionsInUse() const
{
    return m_connectionsInUse;
}

QUrl LoopbackHttpServer::url(const QString& target) const
{
    const QString scheme = m_scheme == Scheme::Https ? u"https"_s : u"http"_s;
    return QUrl(scheme + u"://127.0.0.1:"_s + QString::number(port()) + target);
}

void LoopbackHttpServer::setRoute(const QByteArray& target, Route route)
{
    const QMutexLocker locker(&m_mutex);
    m_routes.insert(target, std::move(route));
}

void LoopbackHttpServer::setRedirect(const QByteArray& target, const QUrl& location, int status)
{
    Route route;
    route.status = status;
    route.headers.append({"Location", location.toEncoded()});
    setRoute(target, std::move(route));
}

void LoopbackHttpServer::setCertificate(const QString& name)
{
    if (m_scheme != Scheme::Https)
        return;
    QMetaObject::invokeMethod(
        m_context, [this, name] { static_cast<TlsServer*>(m_server)->use(name); },
        Qt::BlockingQueuedConnection);
}

quint16 LoopbackHttpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray LoopbackHttpServer::gzip(const QByteArray& data, qint64 times)
{
    z_stream stream{};
    // 16 over the window bits asks for a gzip wrapper.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray output;
    char buffer[64 * 1024];
    for (qint64 round = 0; round <= times; ++round) {
        const bool last = round == times;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        stream.avail_in = last ? 0 : uInt(data.size());
        int result = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            result = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            output.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0 || (last && result != Z_STREAM_END));
    }
    deflateEnd(&stream);
    return output;
}

QString LoopbackHttpServer::certificateAuthorityPath()
{
    return QStringLiteral(DATA_DIR "/tls/ca.pem");
}

void LoopbackHttpServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, Connection{});
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
        const auto streamOn = [this, socket] {
            // A trickle goes at its own pace, not as fast as the client reads.
            if (m_connections.value(socket).intervalMs == 0)
                stream(socket);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, streamOn);
        if (auto* secure = qobject_cast<QSslSocket*>(socket))
            connect(secure, &QSslSocket::encryptedBytesWritten, socket, streamOn);
        connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
            forget(socket);
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
    m_peakConnectionsInUse = std::max(m_peakConnectionsInUse.load(), ++m_connectionsInUse);

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
    const QByteArray path = request.target.left(request.target.indexOf('?'));
    Route route = Route::answering(404, "not found", {{"Content-Type", "text/plain"}});
    {
        const QMutexLocker locker(&m_mutex);
        m_requests.append(request);
        if (auto exact = m_routes.constFind(request.target); exact != m_routes.cend())
            route = *exact;
        else if (auto byPath = m_routes.constFind(path); byPath != m_routes.cend())
            route = *byPath;
    }

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

    if (route.raw) {
        socket->write(*route.raw);
        socket->disconnectFromHost();
        return;
    }
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + reasonPhrase(route.status) + "\r\n";
    if (route.headerLineBytes) {
        found->remaining = *route.headerLineBytes;
        found->headerLines = true;
        socket->write(head);
        stream(socket);
        return;
    }
    for (const auto& [name, value] : route.headers)
        head += name + ": " + value + "\r\n";
    if (route.streamedBytes) {
        found->remaining = *route.streamedBytes;
        found->chunked = route.chunked;
        found->intervalMs = route.chunkIntervalMs;
        found->trickleBytes = route.trickleBytes;
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
    if (!route.holdOpen)
        socket->disconnectFromHost();
}

void LoopbackHttpServer::forget(QTcpSocket* socket)
{
    const auto found = m_connections.constFind(socket);
    if (found == m_connections.cend())
        return;
    if (found->answered)
        --m_connectionsInUse;
    m_connections.erase(found);
}

void LoopbackHttpServer::stream(QTcpSocket* socket)
{
    auto found = m_connections.find(socket);
    if (found == m_connections.end() || !found->answered || found->remaining <= 0)
        return;
    const bool trickle = found->intervalMs > 0;
    while (found->remaining > 0 && queuedBytes(socket) < maximumQueuedBytes) {
        const qint64 size = std::min(found->remaining, trickle ? found->trickleBytes : streamChunkBytes);
        const QByteArray data = found->headerLines ? headerLineBlock().left(size) : QByteArray(size, 'x');
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
    if (found->remaining == 0 && found->headerLines) {
        // Only a client that reads on and on gets this far: it does end, but says nothing.
        socket->write("\r\n");
        socket->disconnectFromHost();
    } else if (found->remaining == 0) {
        if (found->chunked)
            socket->write("0\r\n\r\n");
        socket->disconnectFromHost();
    }
}

} // namespace mirvo::test
