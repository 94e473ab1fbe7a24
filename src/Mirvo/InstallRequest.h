#pragma once

#include "Models.h"

#include <QObject>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace mirvo {

// The app whose install sheet is open.
struct InstallRequest {
    Q_GADGET
    QML_VALUE_TYPE(installRequest)
    Q_PROPERTY(bool present READ present)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString identifier READ identifierText)
    Q_PROPERTY(QString catalogAppID READ catalogAppIDText)

public:
    QUuid id;
    QString name;
    AppIdentifier identifier = AppIdentifier::storeID({});
    std::optional<QString> catalogAppID;

    // Every request has a random id; the empty value is how QML sees no open sheet.
    bool present() const { return !id.isNull(); }
    QString identifierText() const { return identifier.value(); }
    QString catalogAppIDText() const { return catalogAppID.value_or(QString()); }

    bool operator==(const InstallRequest&) const = default;
};

} // namespace mirvo
