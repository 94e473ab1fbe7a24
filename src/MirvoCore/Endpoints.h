#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <variant>

namespace mirvo {

// The hosts and repositories the application talks to. Defaults are the public services; tests and
// mirrors may override them (see Endpoints::current()).
struct Endpoints {
    QUrl gitHubApi{QStringLiteral("https://api.github.com")};
    QString gitHubWebHost = QStringLiteral("github.com");
    QUrl gitHubRawContent{QStringLiteral("https://raw.githubusercontent.com")};
    QString ipatoolRepository = QStringLiteral("majd/ipatool");
    QString goIOSRepository = QStringLiteral("danielpaulus/go-ios");
    QString removedAppsRepository = QStringLiteral("kda2495/IPA_Downloader");
    QString removedAppsPath = QStringLiteral("Files/Apps_ID_List.txt");
    QString removedAppsBranch = QStringLiteral("main");
    QString topAppsRepository = QStringLiteral("mirvo-app/mirvo-data");
    QString topAppsPath = QStringLiteral("files/top.json");
    QString topAppsBranch = QStringLiteral("main");
    QUrl appStoreLookup{QStringLiteral("https://itunes.apple.com")};
    // Storefronts asked, in turn, for the apps the Russian one no longer offers.
    QStringList lookupFallbackCountries{QStringLiteral("us")};
    QString appStoreWebHost = QStringLiteral("apps.apple.com");
    QUrl faviconService{QStringLiteral("https://www.google.com")};
    QString faviconPath = QStringLiteral("/s2/favicons");
    QUrl updateManifest{QStringLiteral("https://mirvo.app/download/latest.json")};
    // A PEM file of extra certificate authorities to trust; empty for none.
    QString extraCertificateAuthorities;

    bool operator==(const Endpoints&) const = default;

    // The values in force for this process: the defaults, overridden by the JSON file that the environment
    // variable MIRVO_ENDPOINTS names, if any. The defaults alone when that file is unusable.
    static const Endpoints& current();
    // Why the file named by MIRVO_ENDPOINTS could not be used, in Russian; empty when it was or when none is
    // named.
    static QString loadError();

    // The defaults overridden by the members of the JSON object in the file at `path`, named as the fields
    // above, or a Russian text saying why the file cannot be used.
    static std::variant<Endpoints, QString> load(const QString& path);
};

} // namespace mirvo
