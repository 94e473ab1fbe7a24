#include "ChildProcesses.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <unistd.h>

#ifdef __APPLE__
#include <libproc.h>
#endif

namespace mirvo::test {

QList<pid_t> liveChildProcesses()
{
    QList<pid_t> children;
    const pid_t self = getpid();
#ifdef __APPLE__
    pid_t pids[4096];
    const int count = proc_listchildpids(self, pids, sizeof(pids));
    for (int i = 0; i < count; ++i)
        children.append(pids[i]);
#else
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isNumber = false;
        const pid_t pid = entry.toInt(&isNumber);
        if (!isNumber)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // The command name may hold spaces and parentheses: the fields start after the last ')'.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == self)
            children.append(pid);
    }
#endif
    return children;
}

QList<pid_t> waitForNoChildProcesses(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QList<pid_t> children = liveChildProcesses();
    while (!children.isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(20);
        children = liveChildProcesses();
    }
    return children;
}

} // namespace mirvo::test
