#include "AppModel.h"

#include "AssignProperty.h"
#include "Endpoints.h"
#include "FileSystem.h"
#include "LogBuffer.h"
#include "LogCategories.h"
#include "ProcessRunner.h"
#include "SystemError.h"

#include <QJSEngine>
#include <QPointer>
#include <QQmlEngine>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

AppModel* s_instance = nullptr;

ToolService makeService(const AppModelEnvironment& environment)
{
    std::shared_ptr<CommandRunning> runner = environment.runner;
    if (!runner)
        runner = std::make_shared<ProcessRunner>();
    ToolLocator locator =
        environment.dataRoot.isEmpty() ? ToolLocator() : ToolLocator::inDataDirectory(environment.dataRoot);
    return ToolService(std::move(runner), std::move(locator));
}

} // namespace

AppModel::AppModel(AppModelEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_environment(std::move(environment))
    , m_service(makeService(m_environment))
    , m_catalog(new CatalogState(*this))
    , m_devices(new DevicesState(*this, m_environment.devicePollingSeconds))
    , m_account(new AccountState(*this))
    , m_components(new ComponentsState(*this))
    , m_operation(new OperationState(*this))
    , m_updates(new UpdatesState(*this, m_environment))
{
    // Read without writing back: the user default only changes when the user flips the switch.
    if (m_environment.settings)
        m_advancedMode = m_environment.settings->value(u"advancedMode"_s, false).toBool();
    openStore();
    connectObjects();
}

AppModel::~AppModel()
{
    if (s_instance == this)
        s_instance = nullptr;
}

void AppModel::openStore()
{
    try {
        if (m_environment.dataRoot.isEmpty())
            throw SystemError(u"Не найдена папка для данных приложения."_s);
        m_store.emplace(m_environment.dataRoot);
    } catch (const std::exception& error) {
        m_store.reset();
        qCWarning(lcStore).noquote() << "opening the local store failed:" << localizedDescription(error);
        setAlert(u"Не удалось открыть локальное хранилище: "_s + localizedDescription(error));
        return;
    }
    openIconCaches();
}

void AppModel::openIconCaches()
{
    // A cache that cannot be opened only costs the icons their pictures: no message.
    const auto open = [this](const QString& name) -> std::unique_ptr<ArtworkCache> {
        try {
            return std::make_unique<ArtworkCache>(m_store->root(), name, m_environment.http);
        } catch (const std::exception& error) {
            qCWarning(lcStore).noquote()
                << "opening the icon cache" << name << "failed:" << localizedDescription(error);
            return nullptr;
        }
    };
    m_artworkCache = open(u"Artwork"_s);
    m_faviconCache = open(u"Favicons"_s);
}

void AppModel::connectObjects()
{
    connect(m_account, &AccountState::emailChanged, this, &AppModel::readinessChanged);
    connect(m_components, &ComponentsState::missingToolsChanged, this, &AppModel::readinessChanged);
    connect(m_components, &ComponentsState::ipatoolNeedsUpdateChanged, this, &AppModel::readinessChanged);
    connect(m_operation, &OperationState::busyChanged, this, &AppModel::readinessChanged);
    connect(m_devices, &DevicesState::selectedDeviceChanged, this, &AppModel::readinessChanged);
    connect(m_operation, &OperationState::activeCatalogAppIDChanged, this,
            [this] { m_catalog->apps()->setRunningID(m_operation->activeCatalogAppID()); });
}

void AppModel::setInstance(AppModel* model)
{
    s_instance = model;
}

AppModel* AppModel::create(QQmlEngine*, QJSEngine*)
{
    Q_ASSERT_X(s_instance, "AppModel::create", "the application object sets the model before loading QML");
    QJSEngine::setObjectOwnership(s_instance, QJSEngine::CppOwnership);
    return s_instance;
}

QString AppModel::pageTitle(Page page)
{
    return page == Page::Settings ? u"Настройки"_s : u"Приложения"_s;
}

QCoro::Task<> AppModel::start()
{
    QPointer<AppModel> self(this);
    if (const QString endpointsError = Endpoints::loadError(); !endpointsError.isEmpty())
        setAlert(endpointsError);
    m_updates->startAutomaticCheck();

    co_await m_components->installMissingTools();
    if (!self)
        co_return;
    co_await m_components->refreshComponents();
    if (!self)
        co_return;
    co_await m_catalog->refreshTopApps();
    if (!self)
        co_return;
    co_await m_catalog->refreshCatalog();
    if (!self)
        co_return;
    co_await m_account->restoreAccount();
    if (!self)
        co_return;
    co_await m_devices->refreshDevices();
    if (!self)
        co_return;

    m_devices->startPolling();
    assignProperty(this, m_isStarting, false, &AppModel::isStartingChanged);
}

void AppModel::shutdown()
{
    m_operation->cancel();
    m_devices->stopPolling();
    m_updates->cancelAutomaticCheck();
    m_account->stopSession();
}

void AppModel::windowShown()
{
    QMetaObject::invokeMethod(
        this, [this] { start(); }, Qt::QueuedConnection);
}

bool AppModel::canDownload() const
{
    return signedIn() && !m_components->missingTools().contains(u"ipatool"_s) &&
           !m_components->ipatoolNeedsUpdate() && m_store.has_value() && !busy();
}

bool AppModel::canInstall() const
{
    const std::optional<Device> device = m_devices->selectedDevice();
    return signedIn() && device && device->ready && !m_components->missingTools().contains(u"ios"_s) &&
           !busy();
}

void AppModel::setPage(Page page)
{
    assignProperty(this, m_page, page, &AppModel::pageChanged);
}

void AppModel::setAdvancedMode(bool advancedMode)
{
    assignProperty(this, m_advancedMode, advancedMode, &AppModel::advancedModeChanged);
    if (m_environment.settings)
        m_environment.settings->setValue(u"advancedMode"_s, advancedMode);
    if (!advancedMode && !busy())
        m_catalog->setSelectedAppIDs({});
}

void AppModel::setAlert(const QString& alert)
{
    assignProperty(this, m_alert, alert, &AppModel::alertChanged);
}

void AppModel::dismissAlert()
{
    setAlert({});
}

void AppModel::setNotice(const QString& notice, bool isError)
{
    if (notice == m_notice && isError == m_noticeIsError)
        return;
    m_notice = notice;
    m_noticeIsError = isError;
    Q_EMIT noticeChanged();
}

void AppModel::closeNotice()
{
    setNotice({}, false);
}

bool AppModel::saveLog(const QUrl& file)
{
    try {
        if (!file.isLocalFile() || file.toLocalFile().isEmpty())
            throw SystemError(u"Журнал можно сохранить только в файл на этом компьютере."_s);
        const LogBuffer* buffer = LogBuffer::installed();
        if (!buffer)
            throw SystemError(u"Журнал не ведётся."_s);
        FileSystem::writeFileAtomically(file.toLocalFile(), buffer->text(), FileSystem::privateFileMode);
    } catch (const std::exception& error) {
        qCWarning(lcStore).noquote() << "saving the log failed:" << localizedDescription(error);
        setAlert(u"Не удалось сохранить журнал. "_s + localizedDescription(error));
        return false;
    }
    return true;
}

} // namespace mirvo
