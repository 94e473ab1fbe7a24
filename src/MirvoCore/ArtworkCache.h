#pragma once

#include "HttpClient.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace mirvo {

// Downloaded app icons in one private directory, named by their numeric key, kept under a size limit by
// deleting the least recently used ones. Used from the GUI thread only; its operations interleave only
// while `file` awaits the network.
class ArtworkCache : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 maximumBytes = 128 * 1024 * 1024;
    static constexpr qint64 maximumSingleFileBytes = 5 * 1024 * 1024;

    // Creates `root`/`directoryName` (0700). Throws SystemError. Without an HTTP client nothing is ever
    // fetched: `file` then gives only what is already stored.
    ArtworkCache(QString root, QString directoryName, std::shared_ptr<HttpClient> http,
                 QObject* parent = nullptr);

    const QString& directory() const { return m_directory; }

    // The stored icon's path, fetching it over HTTPS first when it is not stored yet. Every failure gives
    // nothing, so the caller keeps its placeholder and the next call tries again; only a stop requested
    // through `stop` is different: it throws CancelledError.
    QCoro::Task<std::optional<QString>> file(QString key, QUrl remoteURL, std::stop_token stop = {});

    // The stored icon's path when it holds at least one byte. A hit makes it the most recently used.
    std::optional<QString> cachedURL(const QString& key);

    // Stores `data` as the icon of `key` and prunes the directory. Returns the icon's path. Throws
    // MirvoError for an invalid key or size, SystemError for a file failure (also when only the pruning
    // failed and the icon is in place).
    QString store(const QByteArray& data, const QString& key);

    // Every file in the directory, unfinished ones included; 0 when it cannot be listed.
    qint64 sizeInBytes() const;

    // Deletes the directory with every icon and creates it again. Throws SystemError.
    void clear();

private:
    std::optional<QString> url(const QString& key) const;
    void pruneIfNeeded();

    QString m_directory;
    std::shared_ptr<HttpClient> m_http;
};

} // namespace mirvo
