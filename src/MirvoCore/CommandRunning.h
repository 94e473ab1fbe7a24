#pragma once

#include "CommandResult.h"

#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <functional>
#include <stop_token>

namespace mirvo {

// Called with each chunk of output, on the reading thread.
using OutputHandler = std::function<void(const QString& chunk)>;

// Runs an external executable with arguments, a time limit in seconds and streamed output.
class CommandRunning {
public:
    virtual ~CommandRunning() = default;
    virtual QCoro::Task<CommandResult> run(QString executable, QStringList arguments, double timeout,
                                           OutputHandler onOutput, std::stop_token stop) = 0;
};

} // namespace mirvo
