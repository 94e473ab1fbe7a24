#pragma once

#include "HttpResponseReader.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <utility>

class QTcpSocket;

namespace mirvo {

// One GET over a connection of its own: HTTP/1.1 in the clear or over TLS with the given configuration.
// It sends the request, reads the answer through an HttpResponseReader (whose limits bound what is held,
// whatever the server sends) and closes the connection. Following redirects is the caller's business.
class HttpExchange : public QObject {
    Q_OBJECT

public:
    using Headers = QList<std::pair<QByteArray, QByteArray>>;
    enum class Ending { Running, Answered, Failed, Cancelled };

    HttpExchange(QUrl url, Headers headers, qint64 maxBodyBytes, QSslConfiguration tls,
                 QObject* parent = nullptr);
    ~HttpExchange() override;

    // Connects and sends the request; nothing goes out before.
    void start();
    // Ends the exchange as Cancelled unless it has ended already.
    void cancel();

    bool isStarted() const { return m_started; }
    Ending ending() const { return m_ending; }
    // Why there is no answer, in Russian, once the exchange Failed.
    const QString& failure() const { return m_failure; }
    // The answer, once the exchange was Answered.
    HttpResponseReader& reader() { return m_reader; }

Q_SIGNALS:
    void finished();

private:
    void sendRequest();
    void readAvailable();
    void connectionEnded();
    void socketFailed(QAbstractSocket::SocketError error);
    void finishAsReader();
    void finish(Ending ending, QString failure = {});

    const QUrl m_url;
    const Headers m_headers;
    const QSslConfiguration m_tls;
    HttpResponseReader m_reader;
    QTcpSocket* m_socket = nullptr; // a child
    bool m_started = false;
    Ending m_ending = Ending::Running;
    QString m_failure;
};

} // namespace mirvo
