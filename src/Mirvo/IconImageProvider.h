#pragma once

#include <QPointer>
#include <QQuickAsyncImageProvider>
#include <QString>
#include <QUrl>

#include <optional>

namespace mirvo {

class AppModel;

// Serves "image://icons/..." to QML from the model's icon caches: "artwork/<app ID>?<address>" for a catalog
// app's App Store icon, "favicon/<app ID>?<address>" for a popular app's favicon, the address
// percent-encoded. The cache is asked on the GUI thread; the picture is decoded on the thread that asked for
// it. Anything that leaves no picture (no cache, no network, a file that is not an image) gives an empty
// image without an error, so the view keeps its placeholder and the log stays quiet.
class IconImageProvider : public QQuickAsyncImageProvider {
public:
    static inline const QString providerId = QStringLiteral("icons");

    explicit IconImageProvider(AppModel* model);

    QQuickImageResponse* requestImageResponse(const QString& id, const QSize& requestedSize) override;

    // The image sources of an icon; empty when there is no address to fetch it from.
    static QString artworkSource(const QString& appID, const std::optional<QUrl>& artworkURL);
    static QString faviconSource(const QString& appID, const std::optional<QUrl>& faviconURL);

private:
    QPointer<AppModel> m_model;
};

} // namespace mirvo
