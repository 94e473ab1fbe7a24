#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace mirvo {

// The application's data directory: its private directory tree, the names of downloaded IPAs and the
// saved copy of the removed-apps list with the date of its last change.
class LocalStore {
public:
    // The removed-apps list arrives capped at 1,000,000 bytes and the date file holds one number: saved
    // files far larger than that are not ours and are refused before they are read into memory.
    static constexpr qint64 maximumCatalogBytes = 4 * 1024 * 1024;
    static constexpr qint64 maximumMetadataBytes = 64 * 1024;

    // Creates the tree (0700) and narrows the root's permissions. Throws SystemError.
    explicit LocalStore(QString root);

    const QString& root() const { return m_root; }
    QString packagesPath() const;
    QString toolsPath() const;

    // The file an IPA of the app called `name` is downloaded to; `suffix` follows the name (a batch adds
    // " — " and the app's ID). A name too long for a file name (255 bytes in UTF-8) is shortened where a
    // character ends; the suffix and the extension stay whole, unless the suffix alone is too long.
    QString destination(const QString& name, const QString& suffix = {}) const;

    void saveCatalog(const QByteArray& data, const std::optional<QDateTime>& updatedAt) const;
    // Nothing when no copy is saved; a saved file that cannot be read, or is no regular file within its
    // cap, throws SystemError.
    std::optional<QByteArray> cachedCatalog() const;
    std::optional<QDateTime> cachedCatalogUpdatedAt() const;
    qint64 cacheSizeInBytes() const;
    void clearCatalogCache() const;

private:
    QString m_root;
};

} // namespace mirvo
