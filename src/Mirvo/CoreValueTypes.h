#pragma once

#include "AppUpdateManifest.h"
#include "AuthenticationEvent.h"
#include "Models.h"

#include <QObject>
#include <QtQml/qqml.h>

// QML registrations of the core's value types, which cannot depend on QML themselves.
namespace mirvo {

struct AuthenticationEventForeign {
    Q_GADGET
    QML_FOREIGN(mirvo::AuthenticationEvent)
    QML_VALUE_TYPE(authenticationEvent)
};

// Gives QML the kinds as AuthenticationEvent.Password and so on.
namespace AuthenticationEventKindForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(mirvo::AuthenticationEvent)
QML_NAMED_ELEMENT(AuthenticationEvent)
} // namespace AuthenticationEventKindForeign

struct AppUpdateManifestForeign {
    Q_GADGET
    QML_FOREIGN(mirvo::AppUpdateManifest)
    QML_VALUE_TYPE(appUpdateManifest)
};

struct DeviceForeign {
    Q_GADGET
    QML_FOREIGN(mirvo::Device)
    QML_VALUE_TYPE(device)
};

} // namespace mirvo
