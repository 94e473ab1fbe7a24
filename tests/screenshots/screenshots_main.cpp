// Photographs the application's screens: mirvo-screenshots OUTDIR.
//
// The application is built through the same code as the executable, over the production environment, in a
// temporary home: HOME and the XDG directories point there, the fake ipatool and go-ios sit where the
// application keeps its tools, and MIRVO_ENDPOINTS points every network service at a fixture server in this
// process. The model is then driven through its public interface into each state, the fakes' variables
// steering the tools, and the window saved as OUTDIR/NN-name.png once it has settled.
#include "Application.h"
#include "FixtureServer.h"
#include "WindowCamera.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

using namespace mirvo;
using namespace mirvo::screenshots;
using namespace Qt::Literals::StringLiterals;

namespace {

// Everything the application reads from the environment points inside `root`.
void isolate(const QString& root)
{
    for (const char* name : {"home", "data", "config", "cache", "runtime", "ipatool"})
        QDir().mkpath(root + u'/' + QLatin1StringView(name));
    QFile::setPermissions(root + u"/runtime"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", QFile::encodeName(root + u"/home"_s));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + u"/data"_s));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + u"/config"_s));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + u"/cache"_s));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root + u"/runtime"_s));
    // The fake ipatool keeps its account here: signed out until the sign-in below.
    qputenv("MIRVO_FAKE_HOME", QFile::encodeName(root + u"/ipatool"_s));
    for (const char* name : {"MIRVO_FAKE_SCENARIO", "MIRVO_FAKE_STALL_IDS", "MIRVO_FAKE_FAIL_IDS",
                             "MIRVO_FAKE_SEND_MS", "MIRVO_FAKE_DEVICES", "MIRVO_ENDPOINTS"})
        qunsetenv(name);
    QStandardPaths::setTestModeEnabled(false);
}

// Copies the fake tools to where the production environment looks for them.
bool installFakeTools()
{
    const QString tools =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Mirvo/Tools/"_s;
    QDir().mkpath(tools);
    for (const QString& name : {u"ipatool"_s, u"ios"_s}) {
        if (!QFile::copy(QStringLiteral(MIRVO_FAKES_DIR) + u'/' + name, tools + name)) {
            std::fprintf(stderr, "mirvo-screenshots: cannot install the fake %s\n", qPrintable(name));
            return false;
        }
    }
    return true;
}

// The IDs of the first `count` rows of the catalog as the page lists it.
QStringList listedIDs(AppModel& model, int count)
{
    QStringList ids;
    SearchProxyModel* rows = model.catalog()->filteredApps();
    for (int row = 0; row < rows->rowCount() && ids.size() < count; ++row)
        ids.append(rows->index(row, 0).data(CatalogListModel::IdRole).toString());
    return ids;
}

class Session {
public:
    Session(Application& application, FixtureServer& server, WindowCamera& camera)
        : m_model(application.model())
        , m_server(server)
        , m_camera(camera)
    {
    }

    bool run();

private:
    bool shoot(const QString& name);
    bool signIn();
    bool catalogReady();
    // Opens the install sheet for catalog app `id` and runs it; false when the sheet would not open.
    bool perform(const QString& id, bool install);
    bool waitIdle();
    void clearMessages();

    AppModel& m_model;
    FixtureServer& m_server;
    WindowCamera& m_camera;
    int m_failures = 0;
};

bool Session::shoot(const QString& name)
{
    if (!m_camera.shoot(name))
        ++m_failures;
    return true;
}

void Session::clearMessages()
{
    m_model.closeNotice();
    m_model.dismissAlert();
}

bool Session::waitIdle()
{
    return waitFor([this] { return !m_model.busy(); }, "the operation to end", 60000);
}

bool Session::catalogReady()
{
    CatalogState* catalog = m_model.catalog();
    return waitFor(
        [catalog] { return catalog->apps()->rowCount() > 0 && catalog->metadataTask().isFinished(); },
        "the catalog and its store data", 60000);
}

bool Session::signIn()
{
    AccountState* account = m_model.account();
    account->setModal(AccountState::Modal::AppleID);
    shoot(u"05-appleid-form"_s);

    qputenv("MIRVO_FAKE_SCENARIO", "login-code");
    account->startLogin(u"jane@example.com"_s);
    const auto stageIs = [account](AuthenticationEvent::Kind kind) {
        return [account, kind] { return account->loginStage().kind == kind; };
    };
    if (!waitFor(stageIs(AuthenticationEvent::Kind::Password), "the password prompt"))
        return false;
    account->submitPassword(u"correct horse battery staple"_s);
    if (!waitFor(stageIs(AuthenticationEvent::Kind::Code), "the code prompt"))
        return false;
    shoot(u"06-appleid-code"_s);

    account->submitCode(u"123456"_s);
    const bool signedIn = waitFor([account] { return account->signedIn(); }, "the sign-in");
    qunsetenv("MIRVO_FAKE_SCENARIO");
    account->setModal(AccountState::Modal::None);
    clearMessages();
    return signedIn;
}

bool Session::perform(const QString& id, bool install)
{
    OperationState* operation = m_model.operation();
    operation->requestCatalogApp(id);
    if (!operation->request())
        return false;
    const InstallRequest request = *operation->request();
    operation->perform(request, install);
    return true;
}

bool Session::run()
{
    // Start-up, held on its placeholder while the catalog "downloads".
    if (!waitFor([this] { return m_model.isStarting(); }, "start-up"))
        return false;
    shoot(u"01-placeholder"_s);
    // The answer already held back keeps its delay; later ones come at once.
    m_server.holdCatalog(0);
    if (!waitFor([this] { return !m_model.isStarting(); }, "the end of start-up", 60000))
        return false;
    clearMessages();

    m_model.setAdvancedMode(false);
    waitFor([this] { return m_model.catalog()->topApps()->rowCount() > 0; }, "the popular apps");
    shoot(u"02-popular"_s);

    if (!signIn())
        return false;

    // Advanced mode with a few apps chosen: the batch bar shows.
    m_model.setAdvancedMode(true);
    if (!catalogReady())
        return false;
    const QStringList ids = listedIDs(m_model, 8);
    if (ids.size() < 8) {
        std::fprintf(stderr, "mirvo-screenshots: the catalog lists too few apps\n");
        return false;
    }
    m_model.catalog()->setSelectedAppIDs({ids[0], ids[2], ids[3]});
    shoot(u"03-advanced-selection"_s);
    m_model.catalog()->setSelectedAppIDs({});

    OperationState* operation = m_model.operation();
    operation->requestCatalogApp(ids[1]);
    waitFor([operation] { return operation->request().has_value(); }, "the install sheet");
    shoot(u"04-install-sheet"_s);
    operation->closeRequest();

    // A download that stops half way: the fake ipatool hangs after its third bar.
    qputenv("MIRVO_FAKE_STALL_IDS", ids[1].toUtf8());
    perform(ids[1], false);
    waitFor([operation] { return operation->downloadProgress().value_or(0) >= 0.5; }, "download progress");
    shoot(u"07-download-progress"_s);
    operation->stop();
    waitIdle();
    qunsetenv("MIRVO_FAKE_STALL_IDS");
    clearMessages();

    // go-ios says nothing while it sends the app: the install bar has no percentage.
    qputenv("MIRVO_FAKE_SEND_MS", "600000");
    waitFor([this] { return m_model.canInstall(); }, "an iPhone ready for installing");
    perform(ids[4], true);
    waitFor([operation] { return operation->progressStage() == OperationState::ProgressStage::Install; },
            "the install stage", 60000);
    shoot(u"08-install-indeterminate"_s);
    operation->stop();
    waitIdle();
    qunsetenv("MIRVO_FAKE_SEND_MS");
    clearMessages();

    // A complete install.
    perform(ids[5], true);
    waitIdle();
    waitFor([this] { return !m_model.notice().isEmpty(); }, "the success notice");
    shoot(u"09-notice-success"_s);
    clearMessages();

    // A batch of two in which one download fails.
    qputenv("MIRVO_FAKE_FAIL_IDS", ids[7].toUtf8());
    m_model.catalog()->setSelectedAppIDs({ids[6], ids[7]});
    operation->performSelectedCatalogApps(false);
    waitFor([this] { return m_model.busy(); }, "the batch to start");
    waitIdle();
    waitFor([this] { return m_model.noticeIsError(); }, "the failure notice");
    shoot(u"10-notice-error"_s);
    clearMessages();
    m_model.catalog()->setSelectedAppIDs({});

    // The same failure on its own: the error dialog.
    perform(ids[7], false);
    waitIdle();
    waitFor([this] { return !m_model.alert().isEmpty(); }, "the error dialog");
    shoot(u"11-error-dialog"_s);
    qunsetenv("MIRVO_FAKE_FAIL_IDS");
    clearMessages();

    // The manifest now offers a newer build.
    m_server.setUpdateOffered(true);
    UpdatesState* updates = m_model.updates();
    updates->checkForUpdates(false);
    waitFor(
        [updates] {
            return updates->dialog() && updates->dialog()->kind == UpdateDialogState::Kind::Available;
        },
        "the update dialog");
    shoot(u"12-update-available"_s);
    updates->closeDialog();

    m_model.setPage(AppModel::Page::Settings);
    updates->refreshCacheSize();
    m_model.components()->loadIPAToolReleases();
    waitFor([this] { return !m_model.components()->releasesLoading(); }, "the ipatool releases");
    shoot(u"13-settings"_s);
    return m_failures == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mirvo-screenshots OUTDIR\n");
        return 2;
    }
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(output)) {
        std::fprintf(stderr, "mirvo-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir root(QDir::tempPath() + u"/mirvo-screenshots-XXXXXX"_s);
    if (!root.isValid())
        return 1;
    isolate(root.path());

    QGuiApplication app(argc, argv);
    Application::setApplicationNames();
    FixtureServer server;
    const QString endpoints = root.filePath(u"endpoints.json"_s);
    if (!server.isListening() || !server.writeEndpoints(endpoints)) {
        std::fprintf(stderr, "mirvo-screenshots: the fixture server did not start\n");
        return 1;
    }
    // Read once per process, so before the model exists.
    qputenv("MIRVO_ENDPOINTS", QFile::encodeName(endpoints));
    // Start-up finds nothing newer; the update is offered later, for its own picture.
    server.setUpdateOffered(false);
    // Long enough for the placeholder's picture, well inside the application's time-out for the list.
    server.holdCatalog(4000);
    if (!installFakeTools())
        return 1;

    int status = 1;
    {
        Application application(AppModelEnvironment::production());
        QQuickWindow* window = application.load();
        if (!window) {
            std::fprintf(stderr, "mirvo-screenshots: the main window did not load\n");
            return 1;
        }
        WindowCamera camera(*window, output);
        Session session(application, server, camera);
        status = session.run() ? 0 : 1;
    }
    return status;
}
