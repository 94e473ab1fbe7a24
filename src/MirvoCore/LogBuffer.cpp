#include "LogBuffer.h"

#include "OutputParser.h"

#include <algorithm>
#include <atomic>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

std::atomic<LogBuffer*> s_installed{nullptr};

QString levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return u"debug"_s;
    case QtInfoMsg:
        return u"info"_s;
    case QtWarningMsg:
        return u"warning"_s;
    case QtCriticalMsg:
        return u"critical"_s;
    case QtFatalMsg:
        return u"fatal"_s;
    }
    return u"unknown"_s;
}

} // namespace

LogBuffer::LogBuffer(qsizetype capacity)
    : m_capacity(std::max<qsizetype>(1, capacity))
{
}

LogBuffer::~LogBuffer()
{
    uninstall();
}

void LogBuffer::install()
{
    if (s_installed.load() == this)
        return;
    m_previous = qInstallMessageHandler(&LogBuffer::handle);
    s_installed.store(this);
}

void LogBuffer::uninstall()
{
    LogBuffer* self = this;
    if (!s_installed.compare_exchange_strong(self, nullptr))
        return;
    qInstallMessageHandler(m_previous);
    m_previous = nullptr;
}

LogBuffer* LogBuffer::installed()
{
    return s_installed.load();
}

QString LogBuffer::mask(const QString& message)
{
    return OutputParser::sanitize(message);
}

QString LogBuffer::format(QtMsgType type, const char* category, const QString& message, const QDateTime& time)
{
    const QString name = category && *category ? QString::fromUtf8(category) : u"default"_s;
    return time.toUTC().toString(Qt::ISODateWithMs) + u' ' + levelName(type) + u' ' + name + u": "_s +
           message;
}

void LogBuffer::append(QtMsgType type, const char* category, const QString& message, const QDateTime& time)
{
    keep(format(type, category, mask(message), time));
}

void LogBuffer::keep(QString line)
{
    std::lock_guard lock(m_lock);
    m_lines.push_back(std::move(line));
    while (qsizetype(m_lines.size()) > m_capacity)
        m_lines.pop_front();
}

QStringList LogBuffer::lines() const
{
    std::lock_guard lock(m_lock);
    return QStringList(m_lines.begin(), m_lines.end());
}

QByteArray LogBuffer::text() const
{
    QByteArray text;
    for (const QString& line : lines()) {
        text += line.toUtf8();
        text += '\n';
    }
    return text;
}

void LogBuffer::clear()
{
    std::lock_guard lock(m_lock);
    m_lines.clear();
}

void LogBuffer::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    LogBuffer* buffer = s_installed.load();
    // Masked outside the lock: the masking itself may log.
    const QString masked = mask(message);
    QtMessageHandler previous = nullptr;
    if (buffer) {
        buffer->keep(format(type, context.category, masked, QDateTime::currentDateTimeUtc()));
        previous = buffer->m_previous;
    }
    if (previous)
        previous(type, context, masked);
}

} // namespace mirvo
