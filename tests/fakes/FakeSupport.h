#pragma once

// Shared by the fake ipatool and the fake ios. Tests steer a fake through environment variables:
//   MIRVO_FAKE_SCENARIO  comma-separated scenario names (each fake documents its own)
//   MIRVO_FAKE_VERSION   the version the fake reports
//   MIRVO_FAKE_LOG       a file to which every invocation appends one line: the tool's name and its arguments
//   MIRVO_FAKE_ERROR     the error text of a failing command (each fake has its own default)
// Output is written unbuffered, so that a test sees it while the fake still runs.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include <unistd.h>

namespace fake {

using Field = std::pair<QString, QJsonValue>;

inline QStringList arguments(int argc, char** argv)
{
    QStringList result;
    for (int i = 1; i < argc; ++i)
        result.append(QString::fromLocal8Bit(argv[i]));
    return result;
}

inline QString environment(const char* name, const QString& fallback = {})
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name) : fallback;
}

inline bool scenario(const char* name)
{
    const QStringList names = environment("MIRVO_FAKE_SCENARIO").split(u',', Qt::SkipEmptyParts);
    for (const QString& entry : names) {
        if (entry.trimmed() == QLatin1StringView(name))
            return true;
    }
    return false;
}

inline void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0)
            return;
        written += n;
    }
}

inline void out(const QString& text)
{
    writeAll(STDOUT_FILENO, text.toUtf8());
}
inline void err(const QString& text)
{
    writeAll(STDERR_FILENO, text.toUtf8());
}

inline void logInvocation(const QString& tool, const QStringList& args)
{
    const QString path = environment("MIRVO_FAKE_LOG");
    if (path.isEmpty())
        return;
    QFile log(path);
    if (log.open(QIODevice::Append))
        log.write((QStringList{tool} + args).join(u' ').toUtf8() + '\n');
}

// RFC 3339 in local time without fractions, as both tools print it.
inline QString timestamp()
{
    return QDateTime::currentDateTime()
        .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
        .toString(Qt::ISODate);
}

inline QString jsonValue(const QJsonValue& value)
{
    // QJsonDocument writes only arrays and objects: write a one-element array and strip the brackets.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// One JSON object with its keys in the given order (QJsonObject would sort them), ended by a line feed.
inline QString jsonLine(const QList<Field>& fields)
{
    QStringList parts;
    for (const auto& [key, value] : fields)
        parts.append(jsonValue(key) + u':' + jsonValue(value));
    return u'{' + parts.join(u',') + u"}\n";
}

inline QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + u'\n';
}

// A command line the real tool would not accept from this application.
[[noreturn]] inline void usageError(const QString& tool, const QStringList& args)
{
    err(tool + u": unsupported command line: " + args.join(u' ') + u'\n');
    std::exit(2);
}

inline void applyProcessScenarios()
{
    if (scenario("ignore-sigterm"))
        std::signal(SIGTERM, SIG_IGN);
}

[[noreturn]] inline void sleepForever()
{
    for (;;)
        ::pause();
}

inline void sleepMilliseconds(int milliseconds)
{
    ::usleep(useconds_t(milliseconds) * 1000);
}

// Writes `total` bytes of `line` repeated, in pieces, to the given stream.
inline void flood(int fd, const QString& line, qint64 total)
{
    QByteArray block;
    const QByteArray bytes = line.toUtf8();
    while (block.size() < 64 * 1024)
        block += bytes;
    for (qint64 written = 0; written < total; written += block.size())
        writeAll(fd, block.left(qsizetype(qMin<qint64>(block.size(), total - written))));
}

} // namespace fake
