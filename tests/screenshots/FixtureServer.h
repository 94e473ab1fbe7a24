#pragma once

#include "LoopbackHttpServer.h"
#include "Models.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace mirvo::screenshots {

// A loopback HTTPS server that plays every service the application asks at start-up and after: the
// removed-apps list and its last commit, the popular apps, the App Store lookup with artwork addresses, the
// icons and favicons (generated pictures), the tools' releases and the update manifest. Construct it after
// the QGuiApplication: the pictures are drawn up front.
class FixtureServer {
public:
    FixtureServer();

    bool isListening() const { return m_server.isListening(); }
    QUrl baseURL() const;

    // Writes the MIRVO_ENDPOINTS file that points the application here; false when it cannot be written.
    bool writeEndpoints(const QString& path) const;

    // The removed apps the list names, in its order, and the popular ones.
    const QList<CatalogApp>& catalog() const { return m_catalog; }
    const QList<TopApp>& topApps() const { return m_topApps; }

    // Holds the removed-apps list back for `milliseconds` before answering (0: at once), so that start-up
    // stays on its placeholder that long.
    void holdCatalog(int milliseconds);
    // Whether the manifest offers a build newer than the running one (the default) or an older one.
    void setUpdateOffered(bool offered);

private:
    QByteArray manifest(bool newer) const;
    void serveCatalog(int delayMs);

    test::LoopbackHttpServer m_server{test::LoopbackHttpServer::Scheme::Https};
    QList<CatalogApp> m_catalog;
    QList<TopApp> m_topApps;
    QByteArray m_catalogText;
};

} // namespace mirvo::screenshots
