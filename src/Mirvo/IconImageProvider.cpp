#include "IconImageProvider.h"

#include "AppModel.h"
#include "ArtworkCache.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QMutex>
#include <QMutexLocker>
#include <QQuickTextureFactory>

#include <QCoro/QCoroTask>

#include <memory>
#include <stop_token>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

enum class IconKind { Artwork, Favicon };

struct IconAddress {
    IconKind kind = IconKind::Artwork;
    QString key;
    QUrl remote;
};

QString kindName(IconKind kind)
{
    return kind == IconKind::Artwork ? u"artwork"_s : u"favicon"_s;
}

QString sourceFor(IconKind kind, const QString& appID, const std::optional<QUrl>& remote)
{
    if (appID.isEmpty() || !remote || remote->isEmpty())
        return {};
    // Encoded twice over: the engine hands the id over partly decoded, but never decodes "%25", so decoding
    // once more on arrival always gives back exactly this address.
    return u"image://"_s + IconImageProvider::providerId + u'/' + kindName(kind) + u'/' +
           QString::fromLatin1(QUrl::toPercentEncoding(appID)) + u'?' +
           QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(remote->toEncoded())));
}

std::optional<IconAddress> parseId(const QString& id)
{
    const qsizetype slash = id.indexOf(u'/');
    const qsizetype query = id.indexOf(u'?');
    if (slash < 0 || query < slash)
        return std::nullopt;
    IconAddress address;
    const QStringView kind = QStringView(id).left(slash);
    if (kind == kindName(IconKind::Artwork))
        address.kind = IconKind::Artwork;
    else if (kind == kindName(IconKind::Favicon))
        address.kind = IconKind::Favicon;
    else
        return std::nullopt;
    address.key = QUrl::fromPercentEncoding(id.mid(slash + 1, query - slash - 1).toUtf8());
    address.remote =
        QUrl::fromEncoded(QByteArray::fromPercentEncoding(id.mid(query + 1).toUtf8()), QUrl::StrictMode);
    return address;
}

// Decoded no larger than `requested` allows (0 leaves that side free), keeping the proportions; a smaller
// picture is left as it is, the view scales it.
QImage readIcon(const QString& path, const QSize& requested)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid()) {
        const QSize bound(requested.width() > 0 ? requested.width() : size.width(),
                          requested.height() > 0 ? requested.height() : size.height());
        if (size.width() > bound.width() || size.height() > bound.height())
            reader.setScaledSize(size.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    return reader.read();
}

class IconImageResponse;

// Connects the work on the GUI thread to a response that the engine may delete at any time on its own thread.
class ResponseLink {
public:
    explicit ResponseLink(IconImageResponse* response)
        : m_response(response)
    {
    }

    void detach()
    {
        const QMutexLocker lock(&m_mutex);
        m_response = nullptr;
    }

    void requestStop() { m_stop.request_stop(); }
    std::stop_token stopToken() const { return m_stop.get_token(); }

    // Hands the icon's path (empty for none) to the response's thread, if the response still exists.
    void deliver(const QString& path);

private:
    QMutex m_mutex;
    IconImageResponse* m_response;
    std::stop_source m_stop;
};

class IconImageResponse : public QQuickImageResponse {
public:
    explicit IconImageResponse(QSize requestedSize)
        : m_requestedSize(requestedSize)
        , m_link(std::make_shared<ResponseLink>(this))
    {
    }

    ~IconImageResponse() override { m_link->detach(); }

    const std::shared_ptr<ResponseLink>& link() const { return m_link; }

    QQuickTextureFactory* textureFactory() const override
    {
        return QQuickTextureFactory::textureFactoryForImage(m_image);
    }

    // The engine still waits for finished(), which follows as soon as the stopped fetch returns.
    void cancel() override { m_link->requestStop(); }

    void load(const QString& path)
    {
        if (!path.isEmpty())
            m_image = readIcon(path, m_requestedSize);
        Q_EMIT finished();
    }

private:
    QSize m_requestedSize;
    QImage m_image;
    std::shared_ptr<ResponseLink> m_link;
};

void ResponseLink::deliver(const QString& path)
{
    // Posting under the lock: the response cannot be deleted before the call is queued, and Qt drops the
    // call if it is deleted afterwards.
    const QMutexLocker lock(&m_mutex);
    if (!m_response)
        return;
    IconImageResponse* response = m_response;
    QMetaObject::invokeMethod(
        response, [response, path] { response->load(path); }, Qt::QueuedConnection);
}

// Runs on the GUI thread, where the model and its caches live.
QCoro::Task<> fetchIcon(QPointer<AppModel> model, std::optional<IconAddress> address,
                        std::shared_ptr<ResponseLink> link)
{
    QString path;
    ArtworkCache* cache = nullptr;
    if (model && address)
        cache = address->kind == IconKind::Artwork ? model->artworkCache() : model->faviconCache();
    if (cache) {
        try {
            QCoro::Task<std::optional<QString>> file =
                cache->file(address->key, address->remote, link->stopToken());
            path = (co_await std::move(file)).value_or(QString());
        } catch (const std::exception&) {
            // Stopped: nobody waits for the picture any more.
        }
    }
    link->deliver(path);
}

} // namespace

IconImageProvider::IconImageProvider(AppModel* model)
    : m_model(model)
{
}

QQuickImageResponse* IconImageProvider::requestImageResponse(const QString& id, const QSize& requestedSize)
{
    auto* response = new IconImageResponse(requestedSize);
    std::shared_ptr<ResponseLink> link = response->link();
    std::optional<IconAddress> address = parseId(id);
    QPointer<AppModel> model = m_model;
    // Even an id that names nothing is answered through the GUI thread: finished() must not come before the
    // engine has the response.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model = std::move(model), address = std::move(address), link = std::move(link)] {
            fetchIcon(model, address, link);
        },
        Qt::QueuedConnection);
    return response;
}

QString IconImageProvider::artworkSource(const QString& appID, const std::optional<QUrl>& artworkURL)
{
    return sourceFor(IconKind::Artwork, appID, artworkURL);
}

QString IconImageProvider::faviconSource(const QString& appID, const std::optional<QUrl>& faviconURL)
{
    return sourceFor(IconKind::Favicon, appID, faviconURL);
}

} // namespace mirvo
