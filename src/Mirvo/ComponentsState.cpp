#include "ComponentsState.h"

#include "AppModel.h"
#include "AssignProperty.h"
#include "CommandRunning.h"
#include "OutputParser.h"
#include "SystemError.h"
#include "ToolLocator.h"

#include <QPointer>
#include <QThread>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

ComponentsState::ComponentsState(AppModel& root)
    : QObject(&root)
    , m_root(root)
{
}

void ComponentsState::setMissingTools(const QStringList& tools)
{
    assignProperty(this, m_missingTools, tools, &ComponentsState::missingToolsChanged);
}

void ComponentsState::setVersions(const QMap<QString, QString>& versions)
{
    assignProperty(this, m_versions, versions, &ComponentsState::versionsChanged);
}

void ComponentsState::setIpatoolNeedsUpdate(bool needsUpdate)
{
    assignProperty(this, m_ipatoolNeedsUpdate, needsUpdate, &ComponentsState::ipatoolNeedsUpdateChanged);
}

void ComponentsState::setInstalling(bool installing)
{
    assignProperty(this, m_installing, installing, &ComponentsState::installingChanged);
}

void ComponentsState::setChecking(bool checking)
{
    assignProperty(this, m_checking, checking, &ComponentsState::checkingChanged);
}

void ComponentsState::setStage(const QString& stage)
{
    assignProperty(this, m_stage, stage, &ComponentsState::stageChanged);
}

QStringList ComponentsState::updateMissingTools()
{
    QStringList missing;
    for (const QString& name : ToolLocator::required()) {
        if (!m_root.service().locator().find(name))
            missing.append(name);
    }
    setMissingTools(missing);
    return missing;
}

namespace {

const QString chosenReleaseKey = u"ipatoolRelease"_s;

} // namespace

QCoro::Task<> ComponentsState::installMissingTools()
{
    // Without a data directory, or an environment without a network (tests), there is nowhere to fetch to
    // or from.
    if (m_installing || !m_root.store() || !m_root.http())
        co_return;
    const QStringList missing = updateMissingTools();
    // An installed but outdated ipatool is replaced; a missing one is installed anyway.
    const bool force = m_ipatoolNeedsUpdate && !missing.contains(u"ipatool"_s);
    if (missing.isEmpty() && !force)
        co_return;
    co_await install(force);
}

void ComponentsState::install()
{
    // The settings page's button: what is missing, and ipatool again when it is too old.
    installMissingTools();
}

QCoro::Task<> ComponentsState::install(bool force)
{
    if (m_installing || !m_root.store() || !m_root.http())
        co_return;
    QPointer<ComponentsState> self(this);
    setInstalling(true);
    setStage(u"Подготавливаем компоненты"_s);
    const QString chosen = chosenIPAToolRelease();
    try {
        const ToolBootstrapper bootstrapper(m_root.store()->toolsPath(), m_root.http());
        const ToolBootstrapper::EventHandler onEvent = [self](const ToolDownloadEvent& event) {
            if (!self)
                return;
            const QString text = event.text();
            if (QThread::currentThread() == self->thread()) {
                self->setStage(text);
                return;
            }
            QMetaObject::invokeMethod(
                self.data(),
                [self, text] {
                    if (self)
                        self->setStage(text);
                },
                Qt::QueuedConnection);
        };
        co_await bootstrapper.installMissing(force, onEvent,
                                             chosen.isEmpty() ? std::nullopt : std::optional(chosen));
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        updateMissingTools();
        setStage(u"Не удалось подготовить компоненты"_s);
        m_root.setAlert(localizedDescription(error));
        setInstalling(false);
        co_return;
    }
    if (!self)
        co_return;
    co_await refreshComponents();
    if (!self)
        co_return;
    setStage(u"Компоненты готовы"_s);
    setInstalling(false);
}

QCoro::Task<> ComponentsState::refreshComponents()
{
    if (m_checking)
        co_return;
    QPointer<ComponentsState> self(this);
    setChecking(true);
    updateMissingTools();
    setVersions({});
    setIpatoolNeedsUpdate(false);
    co_await inspectVersions();
    if (!self)
        co_return;
    setChecking(false);
}

void ComponentsState::refresh()
{
    refreshComponents();
}

QCoro::Task<> ComponentsState::inspectVersions()
{
    QPointer<ComponentsState> self(this);
    const std::shared_ptr<CommandRunning> runner = m_root.runner();
    const ToolLocator locator = m_root.service().locator();
    bool ipatoolFound = false;
    for (const auto& [name, arguments] : {std::pair{u"ipatool"_s, QStringList{u"--version"_s}},
                                          std::pair{u"ios"_s, QStringList{u"version"_s}}}) {
        const std::optional<QString> executable = locator.find(name);
        if (!executable || !runner)
            continue;
        if (name == u"ipatool"_s)
            ipatoolFound = true;
        QString output;
        try {
            const CommandResult result = co_await runner->run(*executable, arguments, 10, {}, {});
            output = result.checked();
        } catch (const std::exception&) {
            if (!self)
                co_return;
            continue; // no entry for a tool that cannot tell its version
        }
        if (!self)
            co_return;
        QMap<QString, QString> versions = m_versions;
        versions.insert(name, OutputParser::versionString(output).value_or(output.trimmed()));
        setVersions(versions);
        if (name == u"ipatool"_s)
            setIpatoolNeedsUpdate(
                !OutputParser::versionAtLeast(ToolLocator::minimumIPAToolVersion(), output));
    }
    if (!ipatoolFound)
        setIpatoolNeedsUpdate(false);
}

QString ComponentsState::chosenIPAToolRelease() const
{
    return m_root.settings().value(chosenReleaseKey).toString();
}

QCoro::Task<> ComponentsState::loadIPAToolReleases()
{
    if (m_releasesLoading || !m_root.http())
        co_return;
    QPointer<ComponentsState> self(this);
    assignProperty(this, m_releasesLoading, true, &ComponentsState::releasesLoadingChanged);
    QList<ToolRelease> releases;
    try {
        const ToolBootstrapper bootstrapper(m_root.store() ? m_root.store()->toolsPath() : QString(),
                                            m_root.http());
        releases = co_await bootstrapper.ipatoolReleases();
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        m_root.setAlert(localizedDescription(error));
    }
    if (!self)
        co_return;
    if (!releases.isEmpty())
        assignProperty(this, m_releases, releases, &ComponentsState::ipatoolReleasesChanged);
    assignProperty(this, m_releasesLoading, false, &ComponentsState::releasesLoadingChanged);
}

void ComponentsState::loadReleases()
{
    loadIPAToolReleases();
}

QCoro::Task<> ComponentsState::chooseIPAToolRelease(QString tag)
{
    if (m_installing || !m_root.store() || !m_root.http())
        co_return;
    if (tag.isEmpty())
        m_root.settings().remove(chosenReleaseKey);
    else
        m_root.settings().setValue(chosenReleaseKey, tag);
    Q_EMIT chosenIPAToolReleaseChanged();
    co_await install(true);
}

void ComponentsState::chooseRelease(const QString& tag)
{
    chooseIPAToolRelease(tag);
}

QVariantList ComponentsState::ipatoolReleasesForQml() const
{
    QVariantList list;
    for (const ToolRelease& release : m_releases)
        list.append(QVariantMap{{u"tag"_s, release.tag},
                                {u"version"_s, release.version},
                                {u"publishedAt"_s, release.publishedAt}});
    return list;
}

QVariantMap ComponentsState::versionsForQml() const
{
    QVariantMap map;
    for (auto it = m_versions.cbegin(); it != m_versions.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

} // namespace mirvo
