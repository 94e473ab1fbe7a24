#pragma once

#include "ToolBootstrapper.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

namespace mirvo {

class AppModel;

// The two tools the application drives: which are missing, their versions, whether ipatool is too old,
// and the preparation that fetches them.
class ComponentsState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through AppModel.components")

    Q_PROPERTY(QStringList missingTools READ missingTools NOTIFY missingToolsChanged)
    Q_PROPERTY(QVariantMap versions READ versionsForQml NOTIFY versionsChanged)
    Q_PROPERTY(bool ipatoolNeedsUpdate READ ipatoolNeedsUpdate NOTIFY ipatoolNeedsUpdateChanged)
    Q_PROPERTY(bool installing READ installing NOTIFY installingChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    Q_PROPERTY(QString stage READ stage NOTIFY stageChanged)
    Q_PROPERTY(QVariantList ipatoolReleases READ ipatoolReleasesForQml NOTIFY ipatoolReleasesChanged)
    Q_PROPERTY(bool releasesLoading READ releasesLoading NOTIFY releasesLoadingChanged)
    Q_PROPERTY(QString chosenIPAToolRelease READ chosenIPAToolRelease NOTIFY chosenIPAToolReleaseChanged)

public:
    explicit ComponentsState(AppModel& root);

    const QStringList& missingTools() const { return m_missingTools; }
    void setMissingTools(const QStringList& tools);
    // Tool name ("ipatool", "ios") to the version text shown.
    const QMap<QString, QString>& versions() const { return m_versions; }
    void setVersions(const QMap<QString, QString>& versions);
    bool ipatoolNeedsUpdate() const { return m_ipatoolNeedsUpdate; }
    void setIpatoolNeedsUpdate(bool needsUpdate);
    bool installing() const { return m_installing; }
    void setInstalling(bool installing);
    bool checking() const { return m_checking; }
    void setChecking(bool checking);
    // The last status line of tool preparation.
    const QString& stage() const { return m_stage; }
    void setStage(const QString& stage);

    // The required tools the locator cannot find, in the order of the required list; stored and returned.
    QStringList updateMissingTools();

    // Fetches the missing tools, and ipatool again when it is too old. Never throws; a failure is an alert.
    QCoro::Task<> installMissingTools();
    // The missing list, then both tools' versions, one after the other. Never throws.
    QCoro::Task<> refreshComponents();
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void install();

    // The last ten ipatool releases, newest first, for the user to choose from.
    const QList<ToolRelease>& ipatoolReleases() const { return m_releases; }
    bool releasesLoading() const { return m_releasesLoading; }
    QCoro::Task<> loadIPAToolReleases();
    Q_INVOKABLE void loadReleases();
    // The ipatool release the user chose (its tag), kept across starts; empty for the latest.
    QString chosenIPAToolRelease() const;
    // Installs that release of ipatool in place of the current one and keeps it until the user chooses
    // again; an empty tag goes back to the latest.
    QCoro::Task<> chooseIPAToolRelease(QString tag);
    Q_INVOKABLE void chooseRelease(const QString& tag);

Q_SIGNALS:
    void missingToolsChanged();
    void versionsChanged();
    void ipatoolNeedsUpdateChanged();
    void installingChanged();
    void checkingChanged();
    void stageChanged();
    void ipatoolReleasesChanged();
    void releasesLoadingChanged();
    void chosenIPAToolReleaseChanged();

private:
    QVariantMap versionsForQml() const;
    QVariantList ipatoolReleasesForQml() const;
    QCoro::Task<> install(bool force);
    QCoro::Task<> inspectVersions();

    AppModel& m_root;
    QStringList m_missingTools;
    QMap<QString, QString> m_versions;
    bool m_ipatoolNeedsUpdate = false;
    bool m_installing = false;
    bool m_checking = false;
    QString m_stage;
    QList<ToolRelease> m_releases;
    bool m_releasesLoading = false;
};

} // namespace mirvo
