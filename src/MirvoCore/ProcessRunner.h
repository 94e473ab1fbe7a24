#pragma once

#include "CommandRunning.h"

#include <QByteArrayList>

namespace mirvo {

// Runs external programs as child processes: fixed environment, merged output, time limit and stop.
class ProcessRunner : public CommandRunning {
public:
    // The application's own environment as "NAME=VALUE" entries, read afresh on each call, with PATH set
    // to the system directories and NO_COLOR=1.
    static QByteArrayList environment();

    // Starts `executable` (an absolute path; no shell, no PATH search) on a worker thread. The output
    // is streamed to `onOutput` on that thread; the result keeps the last 1 MiB of it. Throws
    // SystemError when the launch fails or is refused, MirvoError::timedOut() when `timeout` seconds
    // pass after the launch, CancelledError when `stop` is requested, and whatever `onOutput` throws.
    QCoro::Task<CommandResult> run(QString executable, QStringList arguments, double timeout,
                                   OutputHandler onOutput, std::stop_token stop) override;
};

} // namespace mirvo
