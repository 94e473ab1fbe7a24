#pragma once

#include "AppUpdateManifest.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// What the update dialog shows. `None` is how QML sees a closed dialog.
struct UpdateDialogState {
    Q_GADGET
    QML_VALUE_TYPE(updateDialogState)
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(mirvo::AppUpdateManifest manifest MEMBER manifest)

public:
    enum class Kind { None, Available, Current, Failure, Checking };
    Q_ENUM(Kind)

    Kind kind = Kind::None;
    QString text;               // the running version for Current, the message for Failure
    AppUpdateManifest manifest; // the newer build for Available

    static UpdateDialogState available(AppUpdateManifest manifest)
    {
        return UpdateDialogState{Kind::Available, {}, std::move(manifest)};
    }
    static UpdateDialogState current(QString runningVersion)
    {
        return UpdateDialogState{Kind::Current, std::move(runningVersion), {}};
    }
    static UpdateDialogState failure(QString message)
    {
        return UpdateDialogState{Kind::Failure, std::move(message), {}};
    }
    static UpdateDialogState checking() { return UpdateDialogState{Kind::Checking, {}, {}}; }

    bool operator==(const UpdateDialogState&) const = default;
};

// Gives QML the kinds as UpdateDialogState.Available and so on.
namespace UpdateDialogStateForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(mirvo::UpdateDialogState)
QML_NAMED_ELEMENT(UpdateDialogState)
} // namespace UpdateDialogStateForeign

} // namespace mirvo
