#pragma once

#include <QString>

namespace mirvo {

// What the update dialog shows.
struct UpdateDialogState {
    enum class Kind { Available, Current, Failure, Checking };

    Kind kind = Kind::Checking;
    QString text; // the running version for Current, the message for Failure

    bool operator==(const UpdateDialogState&) const = default;
};

} // namespace mirvo
