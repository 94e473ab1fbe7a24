#pragma once

#include <QList>

#include <sys/types.h>

namespace mirvo::test {

// The child processes of this test process that have not been reaped, zombies included: a child that
// exited but was never waited for is a leak too.
QList<pid_t> liveChildProcesses();

// Waits up to `timeoutMs` for every child process to be reaped; returns those still there.
QList<pid_t> waitForNoChildProcesses(int timeoutMs = 5000);

} // namespace mirvo::test
