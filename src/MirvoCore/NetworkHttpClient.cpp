#include "NetworkHttpClient.h"

#include "CancelledError.h"
#include "Endpoints.h"
#include "SystemError.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

// What the reply's signal handlers learn while the coroutine waits for the reply to finish.
struct ReplyState {
    qint64 cap = 0;
    QByteArray body;
    bool tooLarge = false;
    bool timedOut = false;
};

int timeoutMilliseconds(double seconds)
{
    if (std::isnan(seconds) || seconds <= 0)
        return 0;
    return int(std::min(std::ceil(seconds * 1000), double(INT_MAX)));
}

bool isTransportFailure(QNetworkReply::NetworkError error)
{
    // Below 200: connection and proxy failures; the protocol codes mean the answer could not be read.
    return (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) ||
           error == QNetworkReply::ProtocolUnknownError || error == QNetworkReply::ProtocolFailure;
}

SystemError timedOutError()
{
    return SystemError(u"Превышено время ожидания ответа сервера."_s);
}

SystemError transportError(const QNetworkReply& reply)
{
    switch (reply.error()) {
    case QNetworkReply::HostNotFoundError:
        return SystemError(u"Сервер не найден. Проверьте подключение к интернету."_s);
    case QNetworkReply::ConnectionRefusedError:
        return SystemError(u"Сервер отклонил подключение."_s);
    case QNetworkReply::TimeoutError:
        return timedOutError();
    case QNetworkReply::SslHandshakeFailedError:
        return SystemError(u"Не удалось установить защищённое соединение с сервером."_s);
    case QNetworkReply::RemoteHostClosedError:
        return SystemError(u"Сервер неожиданно закрыл соединение."_s);
    case QNetworkReply::InsecureRedirectError:
        return SystemError(u"Сервер перенаправил запрос на незащищённый адрес."_s);
    case QNetworkReply::TooManyRedirectsError:
        return SystemError(u"Сервер перенаправил запрос слишком много раз."_s);
    default:
        return SystemError(reply.errorString());
    }
}

// Moves what the reply holds into the body, or gives up on the body once it would pass the cap.
void takeAvailable(QNetworkReply& reply, ReplyState& state)
{
    if (state.tooLarge)
        return;
    if (state.body.size() + reply.bytesAvailable() > state.cap) {
        state.tooLarge = true;
        state.body = QByteArray();
        reply.abort();
        return;
    }
    state.body += reply.readAll();
}

} // namespace

NetworkHttpClient::NetworkHttpClient()
    : NetworkHttpClient(Endpoints::current().extraCertificateAuthorities)
{
}

NetworkHttpClient::NetworkHttpClient(const QString& extraCertificateAuthorities)
    : m_manager(std::make_unique<QNetworkAccessManager>())
{
    if (extraCertificateAuthorities.isEmpty())
        return;
    // An unreadable file adds nothing: the system's authorities still apply.
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(
        extraCertificateAuthorities, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (certificates.isEmpty())
        return;
    m_sslConfiguration = std::make_unique<QSslConfiguration>(QSslConfiguration::defaultConfiguration());
    m_sslConfiguration->addCaCertificates(certificates);
}

NetworkHttpClient::~NetworkHttpClient()
{
    // The manager deletes its replies without finishing them, which would leave their coroutines waiting
    // forever: finish them first, so that each ends with CancelledError.
    const QList<QNetworkReply*> replies = m_manager->findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly);
    for (QNetworkReply* reply : replies)
        reply->abort();
}

QCoro::Task<HttpResponse> NetworkHttpClient::get(HttpRequest request, std::stop_token stop)
{
    if (stop.stop_requested())
        throw CancelledError();

    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::NoLessSafeRedirectPolicy);
    for (const auto& [name, value] : std::as_const(request.headers))
        networkRequest.setRawHeader(name, value);
    if (request.cachePolicy == HttpRequest::CachePolicy::ReloadIgnoringCache) {
        networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                                    QNetworkRequest::AlwaysNetwork);
        networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    if (m_sslConfiguration)
        networkRequest.setSslConfiguration(*m_sslConfiguration);

    // Declared before everything that refers to the reply, so that it is released last.
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(m_manager->get(networkRequest));
    QNetworkReply* const raw = reply.get();

    auto state = std::make_shared<ReplyState>();
    state->cap = std::max<qint64>(0, request.maxBodyBytes);

    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, state] {
        if (state->tooLarge || raw->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid())
            return;
        bool known = false;
        const qint64 length = raw->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > state->cap) {
            state->tooLarge = true;
            raw->abort();
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, state] { takeAvailable(*raw, *state); });
    // Anything read before a redirect belongs to the answer that was left behind.
    QObject::connect(raw, &QNetworkReply::redirected, raw, [state] { state->body.clear(); });

    // The transfer time-out of Qt restarts with every byte; the request's time-out covers it whole.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, raw, [raw, state] {
        state->timedOut = true;
        raw->abort();
    });
    deadline.start(timeoutMilliseconds(request.timeout));

    // Runs on the stopping thread; the reply outlives this callback, so posting to it is safe.
    const std::stop_callback onStop(stop, [raw] {
        QMetaObject::invokeMethod(
            raw, [raw] { raw->abort(); }, Qt::QueuedConnection);
    });

    if (!raw->isFinished())
        co_await raw;
    // `this` may be gone from here on: the client finishes its replies when it is destroyed.
    deadline.stop();

    if (stop.stop_requested())
        throw CancelledError();
    if (state->timedOut)
        throw timedOutError();

    HttpResponse response;
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        response.status = status.toInt();
    if (state->tooLarge) {
        response.bodyTooLarge = true;
        co_return response;
    }
    if (raw->error() == QNetworkReply::OperationCanceledError)
        throw CancelledError();
    if (isTransportFailure(raw->error()) || (!response.status && raw->error() != QNetworkReply::NoError))
        throw transportError(*raw);

    takeAvailable(*raw, *state);
    if (state->tooLarge) {
        response.bodyTooLarge = true;
        co_return response;
    }
    response.body = std::move(state->body);
    co_return response;
}

} // namespace mirvo
