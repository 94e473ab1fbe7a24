#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

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

    // The values in force for this process.
    static const Endpoints& current();
};

} // namespace mirvo
