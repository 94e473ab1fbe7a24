#pragma once

#include "HttpClient.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace mirvo {

// A step of a tool installation, as the readiness line shows it.
struct ToolDownloadEvent {
    enum class Kind { Resolving, Downloading, Extracting, Installed };

    Kind kind;
    QString name; // "IPATool" or "go-ios"

    QString text() const;
    bool operator==(const ToolDownloadEvent&) const = default;
};

// One downloadable file of a GitHub release.
struct ReleaseAsset {
    QString name;
    QUrl url;

    bool operator==(const ReleaseAsset&) const = default;
};

// A release of a tool as the settings page lists it.
struct ToolRelease {
    QString tag;     // as GitHub names it, e.g. "v2.3.2"
    QString version; // the tag without its leading "v"
    QDateTime publishedAt;
    QList<ReleaseAsset> assets;

    bool operator==(const ToolRelease&) const = default;
};

// The system and processor whose tool builds are fetched, named as the release files name them.
struct ToolPlatform {
    QString system;       // "macos" or "linux"
    QString architecture; // "arm64" or "amd64"

    bool isMac() const;
    // The platform this process runs on; a Mac with Apple silicon counts as one even for an Intel build.
    static ToolPlatform current();
    bool operator==(const ToolPlatform&) const = default;
};

// Fetches ipatool and go-ios from their GitHub releases and publishes their executables in one directory
// (the store's Tools). Keeps no state between calls.
class ToolBootstrapper {
public:
    using EventHandler = std::function<void(const ToolDownloadEvent&)>;

    static constexpr qint64 maximumDownloadBytes = 104'857'600;
    static constexpr qint64 maximumChecksumBytes = 4096;

    ToolBootstrapper(QString directory, std::shared_ptr<HttpClient> http,
                     ToolPlatform platform = ToolPlatform::current());

    const QString& directory() const { return m_directory; }
    const ToolPlatform& platform() const { return m_platform; }

    // Installs what is missing, ipatool again when `forceIPATool`, and returns the names installed
    // ("ipatool" before "ios"). `ipatoolRelease` (a tag of ipatoolReleases()) names the release of ipatool
    // to install, when ipatool is installed, instead of the latest. Events arrive on the calling thread.
    QCoro::Task<QStringList> installMissing(bool forceIPATool, EventHandler onEvent,
                                            std::optional<QString> ipatoolRelease = {},
                                            std::stop_token stop = {}) const;
    // The last ten ipatool releases, newest first.
    QCoro::Task<QList<ToolRelease>> ipatoolReleases(std::stop_token stop = {}) const;

private:
    QString m_directory;
    std::shared_ptr<HttpClient> m_http;
    ToolPlatform m_platform;
};

} // namespace mirvo
