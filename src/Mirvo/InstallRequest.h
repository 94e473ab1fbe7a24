#pragma once

#include "Models.h"

#include <QUuid>

#include <optional>

namespace mirvo {

// The app whose install sheet is open.
struct InstallRequest {
    QUuid id;
    QString name;
    AppIdentifier identifier;
    std::optional<QString> catalogAppID;

    bool operator==(const InstallRequest&) const = default;
};

} // namespace mirvo
