#pragma once

#include "AccountState.h"
#include "AppModelEnvironment.h"
#include "ArtworkCache.h"
#include "CatalogState.h"
#include "ComponentsState.h"
#include "DevicesState.h"
#include "LocalStore.h"
#include "OperationState.h"
#include "ToolService.h"
#include "UpdatesState.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

#include <optional>

class QJSEngine;
class QQmlEngine;

namespace mirvo {

// The one model behind every screen. It owns the services and the focused state objects, runs the
// start-up sequence and shutdown, and keeps what belongs to the window as a whole. Lives on the GUI thread.
class AppModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(mirvo::CatalogState* catalog READ catalog CONSTANT)
    Q_PROPERTY(mirvo::DevicesState* devices READ devices CONSTANT)
    Q_PROPERTY(mirvo::AccountState* account READ account CONSTANT)
    Q_PROPERTY(mirvo::ComponentsState* components READ components CONSTANT)
    Q_PROPERTY(mirvo::OperationState* operation READ operation CONSTANT)
    Q_PROPERTY(mirvo::UpdatesState* updates READ updates CONSTANT)

    Q_PROPERTY(Page page READ page WRITE setPage NOTIFY pageChanged)
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    Q_PROPERTY(bool advancedMode READ advancedMode WRITE setAdvancedMode NOTIFY advancedModeChanged)
    Q_PROPERTY(QString alert READ alert NOTIFY alertChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(bool noticeIsError READ noticeIsError NOTIFY noticeChanged)
    Q_PROPERTY(bool canDownload READ canDownload NOTIFY readinessChanged)
    Q_PROPERTY(bool canInstall READ canInstall NOTIFY readinessChanged)

public:
    enum class Page { Catalog, Settings };
    Q_ENUM(Page)

    explicit AppModel(AppModelEnvironment environment, QObject* parent = nullptr);
    ~AppModel() override;

    // The one instance QML sees; set by the application object before the engine loads.
    static void setInstance(AppModel* model);
    static AppModel* create(QQmlEngine* engine, QJSEngine* scriptEngine);

    // The title the sidebar and the page heading show.
    Q_INVOKABLE static QString pageTitle(mirvo::AppModel::Page page);

    CatalogState* catalog() { return m_catalog; }
    DevicesState* devices() { return m_devices; }
    AccountState* account() { return m_account; }
    ComponentsState* components() { return m_components; }
    OperationState* operation() { return m_operation; }
    UpdatesState* updates() { return m_updates; }

    // The services the state objects work through. The store is absent when the data directory could not
    // be opened.
    const std::optional<LocalStore>& store() const { return m_store; }
    const ToolService& service() const { return m_service; }
    // Runs ipatool and go-ios.
    const std::shared_ptr<CommandRunning>& runner() const { return m_environment.runner; }
    QSettings& settings() const { return *m_environment.settings; }
    // The HTTP client of every network service; none when the environment gives none (most tests).
    const std::shared_ptr<HttpClient>& http() const { return m_environment.http; }
    // The icon caches in the data directory; null when the store or the cache could not be opened.
    ArtworkCache* artworkCache() { return m_artworkCache.get(); }
    ArtworkCache* faviconCache() { return m_faviconCache.get(); }

    // Start-up, run once the main window is shown. A second call runs again without a second update check.
    QCoro::Task<> start();
    // Cancels the running operation, the device poller, the update check and any sign-in. Clears nothing.
    void shutdown();
    // Called by the window: starts start-up one event-loop turn later, so the placeholder is drawn first.
    Q_INVOKABLE void windowShown();

    // The guards every operation shares.
    bool busy() const { return m_operation->busy(); }
    bool signedIn() const { return m_account->signedIn(); }
    bool canDownload() const;
    bool canInstall() const;

    Page page() const { return m_page; }
    void setPage(Page page);
    bool isStarting() const { return m_isStarting; }
    bool advancedMode() const { return m_advancedMode; }
    // Persisted; turning it off while idle empties the selection.
    void setAdvancedMode(bool advancedMode);

    // The message of the modal error dialog; empty for none. A new one replaces an unread one.
    const QString& alert() const { return m_alert; }
    void setAlert(const QString& alert);
    Q_INVOKABLE void dismissAlert();
    // The banner above the page, with whether it reports a failure.
    const QString& notice() const { return m_notice; }
    bool noticeIsError() const { return m_noticeIsError; }
    void setNotice(const QString& notice, bool isError);
    Q_INVOKABLE void closeNotice();

    // Writes the kept log lines to `file`, readable by its owner only. On failure sets the alert and
    // returns false.
    Q_INVOKABLE bool saveLog(const QUrl& file);

Q_SIGNALS:
    void pageChanged();
    void isStartingChanged();
    void advancedModeChanged();
    void alertChanged();
    void noticeChanged();
    // Any input of canDownload or canInstall changed.
    void readinessChanged();

private:
    void openStore();
    void openIconCaches();
    void connectObjects();

    AppModelEnvironment m_environment;
    ToolService m_service;
    std::optional<LocalStore> m_store;
    std::unique_ptr<ArtworkCache> m_artworkCache;
    std::unique_ptr<ArtworkCache> m_faviconCache;

    CatalogState* m_catalog;
    DevicesState* m_devices;
    AccountState* m_account;
    ComponentsState* m_components;
    OperationState* m_operation;
    UpdatesState* m_updates;

    Page m_page = Page::Catalog;
    bool m_isStarting = true;
    bool m_advancedMode = false;
    QString m_alert;
    QString m_notice;
    bool m_noticeIsError = false;
};

} // namespace mirvo
