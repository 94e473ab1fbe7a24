#pragma once

#include <QMap>
#include <QObject>
#include <QStringList>
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

    QCoro::Task<> installMissingTools();
    QCoro::Task<> refreshComponents();

Q_SIGNALS:
    void missingToolsChanged();
    void versionsChanged();
    void ipatoolNeedsUpdateChanged();
    void installingChanged();
    void checkingChanged();
    void stageChanged();

private:
    QVariantMap versionsForQml() const;

    AppModel& m_root;
    QStringList m_missingTools;
    QMap<QString, QString> m_versions;
    bool m_ipatoolNeedsUpdate = false;
    bool m_installing = false;
    bool m_checking = false;
    QString m_stage;
};

} // namespace mirvo
