#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace mirvo {

// How an app is named to ipatool: by App Store ID or by bundle ID.
class AppIdentifier {
public:
    enum class Kind { StoreID, BundleID };

    static AppIdentifier storeID(QString digits) { return {Kind::StoreID, std::move(digits)}; }
    static AppIdentifier bundleID(QString bundleID) { return {Kind::BundleID, std::move(bundleID)}; }

    // Reads what a user typed: a numeric ID, an App Store link or a bundle ID. Throws MirvoError.
    static AppIdentifier parse(const QString& text);
    static AppIdentifier parse(const QString& text, const QString& appStoreWebHost);

    Kind kind() const { return m_kind; }
    const QString& value() const { return m_value; }
    QStringList arguments() const;

    bool operator==(const AppIdentifier&) const = default;

private:
    AppIdentifier(Kind kind, QString value)
        : m_kind(kind)
        , m_value(std::move(value))
    {
    }

    Kind m_kind;
    QString m_value;
};

// One entry of the catalog of removed apps.
class CatalogApp {
public:
    CatalogApp() = default;
    CatalogApp(QString id, QString name, QString category, QString mark, quint32 color,
               std::optional<QUrl> artworkURL, std::optional<QString> bundleIdentifier,
               std::optional<QString> version);

    // Trims and folds case, diacritics and width, so that "Ёж" finds "еж" and "１２" finds "12".
    static QString normalizedSearchText(const QString& text);

    bool matches(const QString& search) const;
    bool matchesNormalizedSearch(const QString& normalizedQuery) const;

    const QString& id() const { return m_id; }
    const QString& name() const { return m_name; }
    const QString& category() const { return m_category; }
    const QString& mark() const { return m_mark; }
    quint32 color() const { return m_color; }
    const std::optional<QUrl>& artworkURL() const { return m_artworkURL; }
    const std::optional<QString>& bundleIdentifier() const { return m_bundleIdentifier; }
    const std::optional<QString>& version() const { return m_version; }
    const QString& searchIndex() const { return m_searchIndex; }

    bool operator==(const CatalogApp&) const = default;

private:
    QString m_id;
    QString m_name;
    QString m_category;
    QString m_mark;
    quint32 m_color = 0;
    std::optional<QUrl> m_artworkURL;
    std::optional<QString> m_bundleIdentifier;
    std::optional<QString> m_version;
    QString m_searchIndex;
};

// One entry of the short list of popular apps.
struct TopApp {
    QString id;
    QString name;
    QString domain;
    QString category;

    std::optional<QUrl> faviconURL() const;
    bool matches(const QString& search) const;

    bool operator==(const TopApp&) const = default;
};

enum class DeviceTransport { Usb, Network, Unknown };

QString rawValue(DeviceTransport transport);
// Accepts exactly "usb", "network" and "unknown".
std::optional<DeviceTransport> deviceTransportFromRawValue(const QString& raw);

// One connected iPhone as go-ios reports it.
struct Device {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString version MEMBER version)
    Q_PROPERTY(bool ready MEMBER ready)

public:
    QString id;
    QString name;
    QString version;
    bool ready = false;
    DeviceTransport transport = DeviceTransport::Unknown;

    bool operator==(const Device&) const = default;
};

// Bytes completed and expected of a download.
struct TransferProgress {
    qint64 completedBytes = 0;
    qint64 totalBytes = 0;

    double fraction() const;

    bool operator==(const TransferProgress&) const = default;
};

} // namespace mirvo

Q_DECLARE_METATYPE(mirvo::CatalogApp)
Q_DECLARE_METATYPE(mirvo::TopApp)
Q_DECLARE_METATYPE(mirvo::Device)
