#pragma once

#include <QString>

namespace mirvo {

// Exit status and collected output of one external command.
struct CommandResult {
    int status = 0;
    QString output;

    // The output, or MirvoError::commandFailed with a friendly text when the command failed.
    QString checked() const;
};

} // namespace mirvo
