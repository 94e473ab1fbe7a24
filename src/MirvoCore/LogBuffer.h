#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QtGlobal>

#include <deque>
#include <mutex>

namespace mirvo {

// The last lines of the application's log, kept in memory so that a user can save them and send them.
// Each message is masked (e-mail addresses, tokens, passwords) before it is kept or passed on.
// Safe from any thread.
class LogBuffer {
public:
    static constexpr qsizetype defaultCapacity = 5000;

    explicit LogBuffer(qsizetype capacity = defaultCapacity);
    ~LogBuffer();

    LogBuffer(const LogBuffer&) = delete;
    LogBuffer& operator=(const LogBuffer&) = delete;

    // Makes this buffer receive every message of the process; the handler in place before keeps receiving
    // them too, masked. One buffer at a time; uninstalled when destroyed.
    void install();
    void uninstall();
    // The installed buffer, if any.
    static LogBuffer* installed();

    // Masks, formats and keeps one message without passing it on.
    void append(QtMsgType type, const char* category, const QString& message,
                const QDateTime& time = QDateTime::currentDateTimeUtc());
    QStringList lines() const;
    // The kept lines, one per line, as UTF-8.
    QByteArray text() const;
    void clear();

    static QString mask(const QString& message);
    static QString format(QtMsgType type, const char* category, const QString& message,
                          const QDateTime& time);

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void keep(QString line);

    const qsizetype m_capacity;
    mutable std::mutex m_lock;
    std::deque<QString> m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace mirvo
