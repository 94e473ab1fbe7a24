#pragma once

#include "UpdateDialogState.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The update dialog's title, subtitle, body and download button for each state. `currentVersion` and
// `currentBuild` are the running application's.
class UpdateDialogTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // A manifest with the running version is a new build of it.
    Q_INVOKABLE static bool isNewBuild(const mirvo::UpdateDialogState& state, const QString& currentVersion);
    Q_INVOKABLE static QString title(const mirvo::UpdateDialogState& state, const QString& currentVersion);
    Q_INVOKABLE static QString subtitle(const mirvo::UpdateDialogState& state, const QString& currentVersion);
    // The body's text for the states without a manifest: current, checking and failure; empty otherwise.
    Q_INVOKABLE static QString message(const mirvo::UpdateDialogState& state);
    // "Установлена 1.2 · сборка 7".
    Q_INVOKABLE static QString installedLine(const QString& currentVersion, qint64 currentBuild);
    // The available release in the same form: "Версия 1.3 · сборка 9".
    Q_INVOKABLE static QString availableLine(const mirvo::UpdateDialogState& state);
    // "Скачать обновление" or "Скачать сборку"; empty when there is nothing to download.
    Q_INVOKABLE static QString downloadTitle(const mirvo::UpdateDialogState& state,
                                             const QString& currentVersion);
    // The menu command that checks for updates.
    Q_INVOKABLE static QString menuTitle(bool checking);
};

} // namespace mirvo
