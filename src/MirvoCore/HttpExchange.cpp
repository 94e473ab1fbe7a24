#include "HttpExchange.h"

#include <QLocale>
#include <QSslSocket>
#include <QTcpSocket>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

// What the socket may hold unread, and what is taken from it at a time: with the reader's limits this bounds
// memory however fast the server sends.
constexpr qint64 socketBufferBytes = 256 * 1024;
constexpr qint64 readPieceBytes = 64 * 1024;

bool hasField(const HttpExchange::Headers& headers, QByteArrayView name)
{
    return std::any_of(headers.cbegin(), headers.cend(), [name](const auto& field) {
        return QByteArrayView(field.first).compare(name, Qt::CaseInsensitive) == 0;
    });
}

QByteArray acceptLanguage()
{
    const QString locale = QLocale::system().name().replace(u'_', u'-');
    if (locale == u"C"_s)
        return "en,*";
    if (locale.startsWith(u"en-"_s))
        return locale.toLatin1() + ",*";
    return locale.toLatin1() + ",en,*";
}

QString readerFailure(HttpResponseReader::Failure failure)
{
    switch (failure) {
    case HttpResponseReader::Failure::HeadTooLarge:
        return u"Сервер прислал слишком длинный заголовок ответа."_s;
    case HttpResponseReader::Failure::Undecodable:
        return u"Не удалось распаковать ответ сервера."_s;
    case HttpResponseReader::Failure::Truncated:
        return u"Сервер неожиданно закрыл соединение."_s;
    case HttpResponseReader::Failure::Malformed:
    case HttpResponseReader::Failure::None:
        break;
    }
    return u"Сервер вернул некорректный ответ."_s;
}

QString socketFailure(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return u"Сервер не найден. Проверьте подключение к интернету."_s;
    case QAbstractSocket::ConnectionRefusedError:
        return u"Сервер отклонил подключение."_s;
    case QAbstractSocket::SocketTimeoutError:
        return u"Превышено время ожидания ответа сервера."_s;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return u"Не удалось установить защищённое соединение с сервером."_s;
    case QAbstractSocket::RemoteHostClosedError:
        return u"Сервер неожиданно закрыл соединение."_s;
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return u"Не удалось подключиться через прокси-сервер."_s;
    default:
        return u"Не удалось связаться с сервером."_s;
    }
}

// The request as it goes out: the given fields, then the ones always sent unless given.
QByteArray requestBytes(const QUrl& url, const HttpExchange::Headers& headers)
{
    // Redundant separators and dot segments go, as they always have here: addresses joined from a base
    // and a path ("https://host/" + "/api") rely on it.
    QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment |
                                      QUrl::NormalizePathSegments);
    if (!target.startsWith('/'))
        target.prepend('/');
    QByteArray bytes = "GET " + target + " HTTP/1.1\r\n";
    bytes += "Host: " + url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() + "\r\n";
    for (const auto& [name, value] : headers) {
        if (name.compare("host", Qt::CaseInsensitive) != 0 &&
            name.compare("connection", Qt::CaseInsensitive) != 0)
            bytes += name + ": " + value + "\r\n";
    }
    if (!hasField(headers, "user-agent"))
        bytes += "User-Agent: Mozilla/5.0\r\n";
    if (!hasField(headers, "accept-encoding"))
        bytes += "Accept-Encoding: gzip, deflate\r\n";
    if (!hasField(headers, "accept-language"))
        bytes += "Accept-Language: " + acceptLanguage() + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    return bytes;
}

} // namespace

HttpExchange::HttpExchange(QUrl url, Headers headers, qint64 maxBodyBytes, QSslConfiguration tls,
                           QObject* parent)
    : QObject(parent)
    , m_url(std::move(url))
    , m_headers(std::move(headers))
    , m_tls(std::move(tls))
    , m_reader(maxBodyBytes)
{
}

HttpExchange::~HttpExchange()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void HttpExchange::start()
{
    if (m_started || m_ending != Ending::Running)
        return;
    m_started = true;
    const bool secure = m_url.scheme() == u"https"_s;
    const QString host = m_url.host(QUrl::FullyEncoded);
    const quint16 port = quint16(m_url.port(secure ? 443 : 80));
    if (secure) {
        auto* socket = new QSslSocket(this);
        socket->setSslConfiguration(m_tls);
        connect(socket, &QSslSocket::encrypted, this, &HttpExchange::sendRequest);
        m_socket = socket;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &HttpExchange::sendRequest);
    }
    m_socket->setReadBufferSize(socketBufferBytes);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::readAvailable);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpExchange::connectionEnded);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpExchange::socketFailed);
    if (secure)
        static_cast<QSslSocket*>(m_socket)->connectToHostEncrypted(host, port);
    else
        m_socket->connectToHost(host, port);
}

void HttpExchange::cancel()
{
    finish(Ending::Cancelled);
}

void HttpExchange::sendRequest()
{
    m_socket->write(requestBytes(m_url, m_headers));
}

void HttpExchange::readAvailable()
{
    while (m_ending == Ending::Running && m_reader.state() == HttpResponseReader::State::Reading) {
        const QByteArray piece = m_socket->read(readPieceBytes);
        if (piece.isEmpty())
            break;
        m_reader.receive(piece);
    }
    finishAsReader();
}

void HttpExchange::connectionEnded()
{
    readAvailable();
    m_reader.closed();
    finishAsReader();
}

void HttpExchange::socketFailed(QAbstractSocket::SocketError error)
{
    // The server closing the connection may well be the end of the answer.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return connectionEnded();
    finish(Ending::Failed, socketFailure(error));
}

void HttpExchange::finishAsReader()
{
    switch (m_reader.state()) {
    case HttpResponseReader::State::Reading:
        return;
    case HttpResponseReader::State::Done:
        return finish(Ending::Answered);
    case HttpResponseReader::State::Failed:
        return finish(Ending::Failed, readerFailure(m_reader.failure()));
    }
}

void HttpExchange::finish(Ending ending, QString failure)
{
    if (m_ending != Ending::Running)
        return;
    m_ending = ending;
    m_failure = std::move(failure);
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Q_EMIT finished();
}

} // namespace mirvo
