#pragma once

#include "CancelledError.h"
#include "HttpClient.h"
#include "Sleep.h"
#include "SystemError.h"

#include <QList>

#include <functional>

namespace mirvo::test {

// An in-memory HttpClient: every request is recorded and answered at once by `answer`, which may throw
// (a SystemError stands for a transport failure). Without an answer every request fails as unreachable.
class FakeHttpClient : public HttpClient {
public:
    using Answer = std::function<HttpResponse(const HttpRequest&)>;

    explicit FakeHttpClient(Answer answer = {})
        : m_answer(std::move(answer))
    {
    }

    void setAnswer(Answer answer) { m_answer = std::move(answer); }
    // Each answer comes this much later, so that a test can act while requests are in flight.
    void setDelay(double seconds) { m_delay = seconds; }
    const QList<HttpRequest>& requests() const { return m_requests; }

    QCoro::Task<HttpResponse> get(HttpRequest request, std::stop_token stop) override
    {
        m_requests.append(request);
        if (m_delay > 0)
            co_await sleepFor(m_delay, stop);
        if (stop.stop_requested())
            throw CancelledError();
        if (!m_answer)
            throw SystemError(QStringLiteral("Сервер недоступен."));
        co_return m_answer(request);
    }

    static HttpResponse ok(QByteArray body) { return HttpResponse{200, std::move(body), false}; }
    static HttpResponse status(int code) { return HttpResponse{code, {}, false}; }

private:
    Answer m_answer;
    double m_delay = 0;
    QList<HttpRequest> m_requests;
};

} // namespace mirvo::test
