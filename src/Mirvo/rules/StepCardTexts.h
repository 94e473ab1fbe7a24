#pragma once

#include "Models.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// What the sidebar's two step cards say: the Apple ID step and the iPhone step, and the cable button.
// A device whose id is empty stands for "no device selected".
class StepCardTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE static QString appleIDTitle(bool signedIn);
    // The signed-in address; else what keeps sign-in from being offered.
    Q_INVOKABLE static QString appleIDSubtitle(const QString& account, bool ipatoolNeedsUpdate,
                                               const QStringList& missingTools);
    // Selected, ready, on USB, and go-ios is there.
    Q_INVOKABLE static bool iPhoneConnected(const mirvo::Device& device, const QStringList& missingTools);
    Q_INVOKABLE static QString iPhoneTitle(bool connected);
    Q_INVOKABLE static QString iPhoneSubtitle(const mirvo::Device& device, const QStringList& missingTools,
                                              bool toolsInstalling);
    Q_INVOKABLE static QString checkCableTitle(bool refreshing);
};

} // namespace mirvo
