#pragma once

#include "AppUpdateCheckResult.h"
#include "AppUpdateManifest.h"
#include "HttpClient.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace mirvo {

// Tells whether a newer build of the application is published: fetches the update manifest, checks it
// strictly and compares it with the running version and build. Downloads and installs nothing. Holds no
// mutable state, so checks may run side by side.
class AppUpdateService {
public:
    static constexpr double timeout = 10; // seconds
    static constexpr qint64 maximumManifestBytes = 65536;

    // The publisher's manifest, or the mirror's that the endpoints in force name.
    static QUrl defaultManifestURL();

    // Without an HTTP client every check fails as unavailable.
    AppUpdateService(QUrl manifestURL, std::shared_ptr<HttpClient> http);

    const QUrl& manifestURL() const { return m_manifestURL; }

    // Throws AppUpdateServiceError, or CancelledError when `stop` is requested. The service may be destroyed
    // while a check runs.
    QCoro::Task<AppUpdateCheckResult> check(QString currentVersion, qint64 currentBuild,
                                            std::stop_token stop = {}) const;

    // Judges a manifest body against the running version and build; the download must be on `trustedHost`
    // (no host at all when absent). Throws AppUpdateServiceError::invalidResponse for a manifest that cannot
    // be decoded or breaks a rule, and for a running version that does not read.
    static AppUpdateCheckResult evaluate(const QByteArray& data, const QString& currentVersion,
                                         qint64 currentBuild, const std::optional<QString>& trustedHost);

    // "1.4.0" or "v1.4" as its numbers: at most four, each made of ASCII digits and fitting 64 bits.
    static std::optional<QList<qint64>> versionComponents(const QString& text);
    // -1, 0 or 1; missing components count as 0, so 1.2 equals 1.2.0.
    static int compare(const QList<qint64>& a, const QList<qint64>& b);

private:
    QUrl m_manifestURL;
    std::shared_ptr<HttpClient> m_http;
};

} // namespace mirvo
