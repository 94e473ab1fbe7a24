#pragma once

#include "AuthenticationEvent.h"
#include "Models.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The install sheet and the Apple ID sheet's sign-in form.
class SheetTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The install sheet's status line.
    Q_INVOKABLE static QString installStatus(const mirvo::Device& selectedDevice);
    // The install sheet's error line; empty while every tool is there.
    Q_INVOKABLE static QString installError(const QStringList& missingTools);

    Q_INVOKABLE static bool loginCanStart(const QStringList& missingTools, bool ipatoolNeedsUpdate);
    // Why sign-in cannot start; empty when it can.
    Q_INVOKABLE static QString loginBlockedMessage(const QStringList& missingTools, bool ipatoolNeedsUpdate);
    Q_INVOKABLE static bool canSubmitCredentials(const QString& email, const QString& password,
                                                 const QStringList& missingTools, bool ipatoolNeedsUpdate);
    // Exactly six digits.
    Q_INVOKABLE static bool codeAcceptable(const QString& code);
    // The status row under the form for a stage; empty for the stages that show none (password, code).
    Q_INVOKABLE static QString loginStatus(const mirvo::AuthenticationEvent& stage, bool passwordSubmitted);
};

} // namespace mirvo
