#pragma once

#include "HttpClient.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>

#include <memory>

class QObject;
class QSslConfiguration;

namespace mirvo {

class HttpExchange;

// The real HTTP client, used only on the thread that created it. Each request goes over a connection of its
// own (HTTP/1.1, or HTTPS), with at most maxConnectionsPerServer at a time to one server; redirects are
// followed as a browser follows them. Whatever a server sends, a request holds no more than a bounded header,
// a bounded socket buffer and the body up to its cap. Requests still running when the client is destroyed
// end with CancelledError.
class NetworkHttpClient final : public HttpClient {
public:
    static constexpr int maxConnectionsPerServer = 6;
    static constexpr int maxRedirects = 20;

    // Trusts the extra certificate authorities of Endpoints::current() besides the system's.
    NetworkHttpClient();
    // `extraCertificateAuthorities` names a PEM file of certificate authorities to trust besides the
    // system's; empty for none.
    explicit NetworkHttpClient(const QString& extraCertificateAuthorities);
    ~NetworkHttpClient() override;

    NetworkHttpClient(const NetworkHttpClient&) = delete;
    NetworkHttpClient& operator=(const NetworkHttpClient&) = delete;

    QCoro::Task<HttpResponse> get(HttpRequest request, std::stop_token stop) override;

private:
    QCoro::Task<HttpResponse> fetch(HttpRequest request, std::stop_token stop);
    void enqueue(HttpExchange* exchange, const QString& server);
    void exchangeFinished(HttpExchange* exchange, const QString& server);
    // Built on the first request: loading the TLS library and the system's authorities would otherwise
    // hold up the window's first frame.
    const QSslConfiguration& tlsConfiguration();

    std::unique_ptr<QObject> m_context; // gone with the client, and the client's connections with it
    QString m_extraCertificateAuthorities;
    std::unique_ptr<QSslConfiguration> m_sslConfiguration;
    QList<QPointer<HttpExchange>> m_exchanges;
    QHash<QString, int> m_connections; // open, by server
    QHash<QString, QList<QPointer<HttpExchange>>> m_waiting;
};

} // namespace mirvo
