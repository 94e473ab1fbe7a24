#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace mirvo {

// One published build of the application, as the update manifest describes it.
struct AppUpdateManifest {
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString version MEMBER version)
    Q_PROPERTY(qint64 build MEMBER build)
    Q_PROPERTY(QString minimumSystemVersion MEMBER minimumSystemVersion)
    Q_PROPERTY(QString architecture MEMBER architecture)
    Q_PROPERTY(QUrl downloadURL MEMBER downloadURL)
    Q_PROPERTY(QString sha256 MEMBER sha256)
    Q_PROPERTY(qint64 sizeBytes MEMBER sizeBytes)
    Q_PROPERTY(QString publishedAt MEMBER publishedAt)
    Q_PROPERTY(QStringList releaseNotes MEMBER releaseNotes)

public:
    QString version;
    qint64 build = 0;
    QString minimumSystemVersion;
    QString architecture;
    QUrl downloadURL;
    QString sha256;
    qint64 sizeBytes = 0;
    QString publishedAt;
    QStringList releaseNotes;

    // The version and the build, as in "1.4.0-27".
    QString id() const;

    bool operator==(const AppUpdateManifest&) const = default;

    // The manifest in `data`, a JSON object with all nine members of the right types (other members are
    // ignored); nothing when a member is missing, null or of another type, a number is not a whole one, or
    // the download address is not a URL. Says nothing about whether the values are acceptable.
    static std::optional<AppUpdateManifest> decode(const QByteArray& data);
};

} // namespace mirvo
