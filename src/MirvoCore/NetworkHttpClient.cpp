#include "NetworkHttpClient.h"

#include "CancelledError.h"
#include "Endpoints.h"
#include "HttpExchange.h"
#include "LogCategories.h"
#include "SystemError.h"

#include <QCoro/QCoroSignal>
#include <QElapsedTimer>
#include <QObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

int timeoutMilliseconds(double seconds)
{
    if (std::isnan(seconds) || seconds <= 0)
        return 0;
    return int(std::min(std::ceil(seconds * 1000), double(INT_MAX)));
}

SystemError timedOutError()
{
    return SystemError(u"Превышено время ожидания ответа сервера."_s);
}

bool isWebAddress(const QUrl& url)
{
    return url.isValid() && (url.scheme() == u"http"_s || url.scheme() == u"https"_s) &&
           !url.host().isEmpty();
}

QString serverOf(const QUrl& url)
{
    return url.scheme() + u"://"_s + url.host(QUrl::FullyEncoded) + u':' +
           QString::number(url.port(url.scheme() == u"https"_s ? 443 : 80));
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a redirect leads, resolved as browsers resolve it: nothing when the Location fields disagree or
// do not lead to a web address.
std::optional<QUrl> redirectTarget(const QUrl& from, const QList<QByteArray>& locations)
{
    if (std::any_of(locations.cbegin(), locations.cend(),
                    [&locations](const QByteArray& location) { return location != locations.first(); }))
        return std::nullopt;
    const QUrl location(QString::fromUtf8(locations.first().trimmed()), QUrl::TolerantMode);
    if (!location.isValid())
        return std::nullopt;
    const QUrl target = from.resolved(location);
    if (!isWebAddress(target))
        return std::nullopt;
    return target;
}

bool isFieldName(const QByteArray& name)
{
    static constexpr QByteArrayView others("!#$%&'*+-.^_`|~");
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               others.contains(c);
    });
}

bool isFieldValue(const QByteArray& value)
{
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

bool hasField(const HttpExchange::Headers& headers, QByteArrayView name)
{
    return std::any_of(headers.cbegin(), headers.cend(), [name](const auto& field) {
        return QByteArrayView(field.first).compare(name, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

NetworkHttpClient::NetworkHttpClient()
    : NetworkHttpClient(Endpoints::current().extraCertificateAuthorities)
{
}

NetworkHttpClient::NetworkHttpClient(const QString& extraCertificateAuthorities)
    : m_context(std::make_unique<QObject>())
    , m_extraCertificateAuthorities(extraCertificateAuthorities)
{
}

const QSslConfiguration& NetworkHttpClient::tlsConfiguration()
{
    if (m_sslConfiguration)
        return *m_sslConfiguration;
    m_sslConfiguration = std::make_unique<QSslConfiguration>(QSslConfiguration::defaultConfiguration());
    if (!m_extraCertificateAuthorities.isEmpty()) {
        // An unreadable file adds nothing: the system's authorities still apply.
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(
            m_extraCertificateAuthorities, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        m_sslConfiguration->addCaCertificates(certificates);
    }
    return *m_sslConfiguration;
}

NetworkHttpClient::~NetworkHttpClient()
{
    // Cut the exchanges off from the client first: each one cancelled then resumes its request, which finds
    // the client gone and ends with CancelledError.
    m_context.reset();
    const QList<QPointer<HttpExchange>> exchanges = std::exchange(m_exchanges, {});
    for (const QPointer<HttpExchange>& exchange : exchanges) {
        if (exchange)
            exchange->cancel();
    }
}

void NetworkHttpClient::enqueue(HttpExchange* exchange, const QString& server)
{
    m_exchanges.append(exchange);
    QObject::connect(exchange, &HttpExchange::finished, m_context.get(),
                     [this, exchange, server] { exchangeFinished(exchange, server); });
    if (m_connections.value(server) < maxConnectionsPerServer) {
        ++m_connections[server];
        exchange->start();
    } else {
        m_waiting[server].append(exchange);
    }
}

void NetworkHttpClient::exchangeFinished(HttpExchange* exchange, const QString& server)
{
    m_exchanges.removeAll(exchange);
    if (!exchange->isStarted()) {
        m_waiting[server].removeAll(exchange);
        if (m_waiting[server].isEmpty())
            m_waiting.remove(server);
        return;
    }
    if (--m_connections[server] == 0)
        m_connections.remove(server);
    QList<QPointer<HttpExchange>>& waiting = m_waiting[server];
    while (!waiting.isEmpty() && m_connections.value(server) < maxConnectionsPerServer) {
        const QPointer<HttpExchange> next = waiting.takeFirst();
        if (next && next->ending() == HttpExchange::Ending::Running) {
            ++m_connections[server];
            next->start();
        }
    }
    if (waiting.isEmpty())
        m_waiting.remove(server);
}

QCoro::Task<HttpResponse> NetworkHttpClient::get(HttpRequest request, std::stop_token stop)
{
    // Host and path only: a query may carry identifiers the log has no need of.
    const QString target = request.url.host(QUrl::FullyEncoded) + request.url.path();
    QElapsedTimer elapsed;
    elapsed.start();
    try {
        // `this` may be gone once this returns; only locals are touched after it.
        HttpResponse response = co_await fetch(std::move(request), stop);
        qCInfo(lcNetwork).noquote() << "GET" << target << "status"
                                    << (response.status ? QString::number(*response.status) : u"none"_s)
                                    << response.body.size()
                                    << (response.bodyTooLarge ? "bytes (over the cap) after" : "bytes after")
                                    << elapsed.elapsed() << "ms";
        co_return response;
    } catch (...) {
        qCInfo(lcNetwork).noquote() << "GET" << target << "failed after" << elapsed.elapsed()
                                    << "ms:" << describeFailure(std::current_exception());
        throw;
    }
}

QCoro::Task<HttpResponse> NetworkHttpClient::fetch(HttpRequest request, std::stop_token stop)
{
    if (stop.stop_requested())
        throw CancelledError();
    if (!isWebAddress(request.url))
        throw SystemError(u"Адрес запроса не поддерживается."_s);
    HttpExchange::Headers headers = request.headers;
    for (const auto& [name, value] : std::as_const(headers)) {
        if (!isFieldName(name) || !isFieldValue(value))
            throw SystemError(u"Недопустимый заголовок запроса."_s);
    }
    if (request.cachePolicy == HttpRequest::CachePolicy::ReloadIgnoringCache &&
        !hasField(headers, "cache-control")) {
        // Caching proxies on the way reload too.
        headers.append(std::pair<QByteArray, QByteArray>("Cache-Control", "no-cache"));
        headers.append(std::pair<QByteArray, QByteArray>("Pragma", "no-cache"));
    }

    const QPointer<QObject> alive = m_context.get();
    const QSslConfiguration tls = tlsConfiguration();
    QPointer<HttpExchange> current;
    bool timedOut = false;

    // One deadline for the whole request, redirects included.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &deadline, [&timedOut, &current] {
        timedOut = true;
        if (current)
            current->cancel();
    });
    deadline.start(timeoutMilliseconds(request.timeout));

    // Runs on the stopping thread; the deadline lives as long as this callback, and a call posted to it
    // is dropped once it is gone.
    const std::stop_callback onStop(stop, [&deadline, &current] {
        QMetaObject::invokeMethod(
            &deadline,
            [&current] {
                if (current)
                    current->cancel();
            },
            Qt::QueuedConnection);
    });

    QUrl url = request.url;
    for (int redirects = 0;; ++redirects) {
        const std::unique_ptr<HttpExchange, DeleteLater> exchange(
            new HttpExchange(url, headers, request.maxBodyBytes, tls));
        current = exchange.get();
        enqueue(exchange.get(), serverOf(url));
        if (exchange->ending() == HttpExchange::Ending::Running)
            co_await qCoro(exchange.get(), &HttpExchange::finished);
        // `this` may be gone from here on: check `alive` first.
        if (!alive || stop.stop_requested())
            throw CancelledError();
        switch (exchange->ending()) {
        case HttpExchange::Ending::Running:
        case HttpExchange::Ending::Cancelled:
            if (timedOut)
                throw timedOutError();
            throw CancelledError();
        case HttpExchange::Ending::Failed:
            throw SystemError(exchange->failure());
        case HttpExchange::Ending::Answered:
            break;
        }

        HttpResponseReader& answer = exchange->reader();
        const QList<QByteArray> locations = answer.headerValues("location");
        // A redirect without a Location is an answer like any other.
        if (isRedirect(answer.status()) && !locations.isEmpty()) {
            const std::optional<QUrl> target = redirectTarget(url, locations);
            if (!target)
                throw SystemError(u"Сервер перенаправил запрос по недопустимому адресу."_s);
            if (url.scheme() == u"https"_s && target->scheme() == u"http"_s)
                throw SystemError(u"Сервер перенаправил запрос на незащищённый адрес."_s);
            if (redirects == maxRedirects)
                throw SystemError(u"Сервер перенаправил запрос слишком много раз."_s);
            // Credentials stay with the server they were meant for.
            if (serverOf(*target) != serverOf(url)) {
                headers.removeIf([](const auto& field) {
                    return field.first.compare("authorization", Qt::CaseInsensitive) == 0 ||
                           field.first.compare("cookie", Qt::CaseInsensitive) == 0;
                });
            }
            qCDebug(lcNetwork).noquote()
                << "redirected from" << QString(url.host(QUrl::FullyEncoded) + url.path()) << "to"
                << QString(target->host(QUrl::FullyEncoded) + target->path());
            url = *target;
            continue;
        }

        HttpResponse response;
        response.status = answer.status();
        response.bodyTooLarge = answer.bodyTooLarge();
        response.body = answer.takeBody();
        co_return response;
    }
}

} // namespace mirvo
