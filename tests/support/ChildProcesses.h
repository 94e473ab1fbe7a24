#pragma once

#include <QList>

#include <sys/types.h>

namespace mirvo::test {

// The live (not yet reaped and not zombie) child processes of this test process.
QList<pid_t> liveChildProcesses();

// Waits up to `timeoutMs` for every child process to be gone; returns those still alive.
QList<pid_t> waitForNoChildProcesses(int timeoutMs = 5000);

} // namespace mirvo::test
