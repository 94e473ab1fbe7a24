#pragma once

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <optional>
#include <stop_token>
#include <utility>

namespace mirvo {

struct HttpRequest {
    enum class CachePolicy { UseProtocolPolicy, ReloadIgnoringCache };

    QUrl url;
    double timeout = 30; // seconds
    QList<std::pair<QByteArray, QByteArray>> headers;
    CachePolicy cachePolicy = CachePolicy::UseProtocolPolicy;
    qint64 maxBodyBytes = 10 * 1024 * 1024;
};

struct HttpResponse {
    std::optional<int> status; // absent when the answer was not HTTP
    QByteArray body;
    bool bodyTooLarge = false; // the body went over the request's cap and was not kept

    bool isSuccess() const { return status && *status >= 200 && *status <= 299; }
};

// The HTTP client every network service goes through. A transport failure throws SystemError,
// a stop throws CancelledError.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual QCoro::Task<HttpResponse> get(HttpRequest request, std::stop_token stop) = 0;
};

} // namespace mirvo
