#include "ComponentsState.h"

#include "AppModel.h"
#include "AssignProperty.h"

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

QCoro::Task<> ComponentsState::installMissingTools()
{
    // Fetching the tools from their releases arrives with the tool bootstrapper.
    co_return;
}

QCoro::Task<> ComponentsState::refreshComponents()
{
    // Version checks arrive with component readiness.
    co_return;
}

QVariantMap ComponentsState::versionsForQml() const
{
    QVariantMap map;
    for (auto it = m_versions.cbegin(); it != m_versions.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

} // namespace mirvo
