#include "UpdatesState.h"

#include "AppModel.h"
#include "AppModelEnvironment.h"
#include "AppUpdateServiceError.h"
#include "AssignProperty.h"
#include "BundleInfo.h"
#include "CancelledError.h"
#include "LogCategories.h"
#include "SystemError.h"

#include <QPointer>

#include <algorithm>

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
    return AppUpdateService::defaultManifestURL();
}

// A decimal integer with an optional sign and nothing else: no spaces, no other digits.
std::optional<qint64> decimalInteger(const QString& text)
{
    const qsizetype digitsFrom = text.startsWith(u'+') || text.startsWith(u'-') ? 1 : 0;
    if (text.size() == digitsFrom ||
        !std::all_of(text.begin() + digitsFrom, text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

UpdatesState::UpdatesState(AppModel& root, const AppModelEnvironment& environment)
    : QObject(&root)
    , m_root(root)
    , m_environment(environment)
    , m_service(manifestURLFrom(environment.bundleInfo), environment.http)
{
}

QString UpdatesState::currentAppVersion() const
{
    const QVariant value = m_environment.bundleInfo.value(u"CFBundleShortVersionString"_s);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return u"0.0.0"_s;
}

qint64 UpdatesState::currentAppBuild() const
{
    const QVariant value = m_environment.bundleInfo.value(u"CFBundleVersion"_s);
    if (value.typeId() != QMetaType::QString)
        return 0;
    return decimalInteger(value.toString()).value_or(0);
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

QCoro::Task<> UpdatesState::checkForUpdates(bool manual, std::stop_token stop)
{
    // A second check, of either kind, is dropped: the running one keeps its own rules.
    if (m_checking)
        co_return;
    QPointer<UpdatesState> self(this);
    setChecking(true);
    if (manual)
        setDialog(UpdateDialogState::checking());

    std::optional<AppUpdateCheckResult> result;
    std::optional<QString> failure; // neither a result nor a failure: the check was stopped
    try {
        const QString version = currentAppVersion();
        const qint64 build = currentAppBuild();
        QCoro::Task<AppUpdateCheckResult> check = m_service.check(version, build, stop);
        result = co_await std::move(check);
    } catch (const CancelledError&) {
    } catch (const std::exception& error) {
        failure = localizedDescription(error);
    }
    if (!self)
        co_return;

    if (result && result->isAvailable())
        setDialog(UpdateDialogState::available(*result->manifest()));
    else if (manual && result)
        setDialog(UpdateDialogState::current(currentAppVersion()));
    else if (manual && failure)
        setDialog(UpdateDialogState::failure(*failure));
    else if (manual)
        setDialog(std::nullopt);
    setChecking(false);
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
    co_await checkForUpdates(false, stop);
}

void UpdatesState::openUpdate(const AppUpdateManifest& manifest)
{
    if (m_environment.openURL && m_environment.openURL(manifest.downloadURL))
        setDialog(std::nullopt);
    else
        setDialog(
            UpdateDialogState::failure(u"Не удалось открыть страницу загрузки. Повторите попытку позже."_s));
}

QCoro::Task<> UpdatesState::refreshCacheSize()
{
    qint64 total = m_root.store() ? m_root.store()->cacheSizeInBytes() : 0;
    if (const ArtworkCache* icons = m_root.artworkCache())
        total += icons->sizeInBytes();
    if (const ArtworkCache* favicons = m_root.faviconCache())
        total += favicons->sizeInBytes();
    setCacheSizeBytes(total);
    co_return;
}

QCoro::Task<> UpdatesState::clearCache()
{
    if (m_cacheClearing)
        co_return;
    QPointer<UpdatesState> self(this);
    setCacheClearing(true);
    // Enrichment would otherwise store icons again into the caches being emptied.
    m_root.catalog()->metadataTask().cancel();

    try {
        if (m_root.store())
            m_root.store()->clearCatalogCache();
        if (ArtworkCache* icons = m_root.artworkCache())
            icons->clear();
        if (ArtworkCache* favicons = m_root.faviconCache())
            favicons->clear();
    } catch (const std::exception& error) {
        qCWarning(lcStore).noquote() << "clearing the caches failed:" << localizedDescription(error);
        m_root.setAlert(u"Не удалось сбросить кэш: "_s + localizedDescription(error));
        setCacheClearing(false);
        co_return;
    }

    // The catalog on screen stays; only the date of its saved copy is gone.
    m_root.catalog()->setUpdatedAt(QDateTime());
    co_await refreshCacheSize();
    if (!self)
        co_return;
    setCacheClearing(false);
}

void UpdatesState::refreshCacheSizeFromPage()
{
    refreshCacheSize();
}

void UpdatesState::clearCacheFromPage()
{
    clearCache();
}

} // namespace mirvo
