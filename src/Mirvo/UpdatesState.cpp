#include "UpdatesState.h"

#include "AppModel.h"
#include "AssignProperty.h"
#include "BundleInfo.h"
#include "Endpoints.h"

#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

// The bundle key may hold anything: only an absolute URL string with a host is taken.
QUrl manifestURLFrom(const BundleInfo& bundleInfo)
{
    const QVariant value = bundleInfo.value(u"SolvenaUpdateManifestURL"_s);
    if (value.typeId() == QMetaType::QString) {
        const QUrl url(value.toString(), QUrl::StrictMode);
        if (url.isValid() && !url.isRelative() && !url.host().isEmpty())
            return url;
    }
    return Endpoints::current().updateManifest;
}

} // namespace

UpdatesState::UpdatesState(AppModel& root, const BundleInfo& bundleInfo)
    : QObject(&root)
    , m_manifestURL(manifestURLFrom(bundleInfo))
{
}

void UpdatesState::setDialog(const std::optional<UpdateDialogState>& dialog)
{
    assignProperty(this, m_dialog, dialog, &UpdatesState::dialogChanged);
}

void UpdatesState::setChecking(bool checking)
{
    assignProperty(this, m_checking, checking, &UpdatesState::checkingChanged);
}

void UpdatesState::setCacheSizeBytes(qint64 bytes)
{
    assignProperty(this, m_cacheSizeBytes, bytes, &UpdatesState::cacheSizeBytesChanged);
}

void UpdatesState::setCacheClearing(bool clearing)
{
    assignProperty(this, m_cacheClearing, clearing, &UpdatesState::cacheClearingChanged);
}

QCoro::Task<> UpdatesState::checkForUpdates(bool manual)
{
    Q_UNUSED(manual);
    // The update-manifest check arrives with the update service.
    co_return;
}

void UpdatesState::checkFromMenu()
{
    checkForUpdates(true);
}

void UpdatesState::startAutomaticCheck()
{
    if (m_automaticCheck.isEmpty())
        m_automaticCheck =
            TaskHandle::start([this](std::stop_token stop) { return runAutomaticCheck(stop); });
}

void UpdatesState::cancelAutomaticCheck()
{
    m_automaticCheck.cancel();
}

QCoro::Task<> UpdatesState::runAutomaticCheck(std::stop_token stop)
{
    QPointer<UpdatesState> self(this);
    if (stop.stop_requested() || !self)
        co_return;
    co_await checkForUpdates(false);
}

} // namespace mirvo
