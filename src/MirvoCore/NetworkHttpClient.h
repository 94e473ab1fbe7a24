#pragma once

#include "HttpClient.h"

#include <QString>

#include <memory>

class QNetworkAccessManager;
class QSslConfiguration;

namespace mirvo {

// The real HTTP client: one QNetworkAccessManager, used only on the thread that created the client.
// Requests still running when the client is destroyed end with CancelledError.
class NetworkHttpClient final : public HttpClient {
public:
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
    std::unique_ptr<QNetworkAccessManager> m_manager;
    std::unique_ptr<QSslConfiguration> m_sslConfiguration;
};

} // namespace mirvo
