#include "AuthenticationSession.h"

#include "CancelledError.h"
#include "ChildProcess.h"
#include "FileDescriptor.h"
#include "LogCategories.h"
#include "MirvoError.h"
#include "OutputParser.h"
#include "ProcessRunner.h"
#include "Sleep.h"
#include "SystemError.h"
#include "TaskHandle.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QJsonValue>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr std::size_t readBytes = 8192;
constexpr qsizetype pendingLimitBytes = 65536;
constexpr qsizetype keptCharacters = 16384;
constexpr int exitGraceMilliseconds = 150;
// A descendant that keeps the terminal open and keeps writing must not keep the final drain going.
constexpr int drainReads = 64;

const QString invalidInput = u"Недопустимый ввод."_s;

// Stage names only: the e-mail, the answers and the tool's own words never reach the log.
const char* stageName(AuthenticationEvent::Kind kind)
{
    switch (kind) {
    case AuthenticationEvent::Kind::Success:
        return "succeeded";
    case AuthenticationEvent::Kind::Failure:
        return "failed";
    case AuthenticationEvent::Kind::Password:
        return "asks-for-password";
    case AuthenticationEvent::Kind::Code:
        return "asks-for-code";
    case AuthenticationEvent::Kind::Working:
        return "answer-sent";
    }
    return "unknown";
}

qsizetype utf8Size(QStringView text)
{
    qsizetype bytes = 0;
    for (const QChar character : text) {
        const char16_t unit = character.unicode();
        // Each half of a surrogate pair stands for two of the pair's four bytes.
        bytes += unit < 0x80 ? 1 : unit < 0x800 || character.isSurrogate() ? 2 : 3;
    }
    return bytes;
}

QString lastCharacters(const QString& text, qsizetype count)
{
    qsizetype from = std::max<qsizetype>(0, text.size() - count);
    if (from > 0 && text.at(from).isLowSurrogate())
        ++from;
    return text.mid(from);
}

// Reads the terminal's master end on a thread of its own and keeps each read, decoded alone, until the GUI
// thread takes it. The thread touches nothing else; it ends when stopped or when the terminal closes.
class TerminalReader {
public:
    // `notify` runs on the reading thread whenever text arrives while none was waiting to be taken.
    // Throws SystemError when the thread cannot be started.
    TerminalReader(FileDescriptor master, std::function<void()> notify)
        : m_master(std::move(master))
        , m_wake(FileDescriptor::pipe())
        , m_notify(std::move(notify))
    {
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error& error) {
            throw SystemError::fromErrno(error.code().value());
        }
    }
    TerminalReader(const TerminalReader&) = delete;
    TerminalReader& operator=(const TerminalReader&) = delete;
    ~TerminalReader() { stop(false); }

    int master() const { return m_master.get(); }

    // Ends the reading thread and waits for it; with `drain`, it first reads what the terminal still holds.
    void stop(bool drain)
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard lock(m_lock);
            m_drain = drain;
        }
        const char byte = 0;
        while (::write(m_wake.second.get(), &byte, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }

    QStringList take()
    {
        std::lock_guard lock(m_lock);
        return std::exchange(m_chunks, QStringList());
    }

private:
    void run()
    {
        char buffer[readBytes];
        pollfd watched[2] = {{m_master.get(), POLLIN, 0}, {m_wake.first.get(), POLLIN, 0}};
        while (true) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (watched[1].revents != 0) {
                std::unique_lock lock(m_lock);
                const bool drain = m_drain;
                lock.unlock();
                if (drain)
                    this->drain(buffer);
                return;
            }
            if (watched[0].revents == 0)
                continue;
            const ssize_t count = ::read(m_master.get(), buffer, sizeof(buffer));
            if (count < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            // Linux answers EIO once no process holds the other end any more.
            if (count <= 0)
                return;
            keep(buffer, count);
        }
    }

    // The master is non-blocking: reads until it has nothing more.
    void drain(char (&buffer)[readBytes])
    {
        for (int i = 0; i < drainReads; ++i) {
            const ssize_t count = ::read(m_master.get(), buffer, sizeof(buffer));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return;
            keep(buffer, count);
        }
    }

    void keep(const char* bytes, ssize_t count)
    {
        QString text = QString::fromUtf8(bytes, qsizetype(count));
        bool first = false;
        {
            std::lock_guard lock(m_lock);
            first = m_chunks.isEmpty();
            m_chunks.append(std::move(text));
        }
        if (first)
            m_notify();
    }

    FileDescriptor m_master;
    std::pair<FileDescriptor, FileDescriptor> m_wake;
    std::function<void()> m_notify;
    std::mutex m_lock; // guards the two fields below
    QStringList m_chunks;
    bool m_drain = false;
    std::thread m_thread;
};

// Waits for sign-in tools to exit. Destroyed when the application ends, once every tool it still waits for
// (each of them being stopped by then) has been reaped.
class ExitWaiters : public QThreadPool {
public:
    // A tool's exit must never queue behind another's.
    ExitWaiters() { setMaxThreadCount(256); }

    static QThreadPool& shared()
    {
        static ExitWaiters pool;
        return pool;
    }
};

QCoro::Task<> runAfter(double seconds, std::function<void()> action, std::stop_token stop)
{
    bool cancelled = false;
    try {
        co_await sleepFor(seconds, stop);
    } catch (const CancelledError&) {
        cancelled = true;
    }
    if (!cancelled && !stop.stop_requested())
        action();
}

} // namespace

struct AuthenticationSession::State {
    Receive receive;
    double timeLimitSeconds = defaultTimeLimitSeconds;
    std::shared_ptr<ChildProcess> process;
    // Holds the master end: present from a successful start until clean-up.
    std::unique_ptr<TerminalReader> reader;
    std::unique_ptr<QFutureWatcher<void>> exit;
    QString pending;
    bool complete = false;
    // A prompt without a line feed was reported, and no line feed has arrived since.
    bool promptOffered = false;
    TaskHandle timeout;
};

AuthenticationSession::AuthenticationSession(Receive receive, double timeLimitSeconds, QObject* parent)
    : QObject(parent)
    , m_state(std::make_unique<State>())
{
    m_state->receive = std::move(receive);
    m_state->timeLimitSeconds = timeLimitSeconds;
}

AuthenticationSession::~AuthenticationSession()
{
    cancel();
}

void AuthenticationSession::start(const QString& executable, const QString& email)
{
    if (m_state->process || m_state->complete)
        return;

    int masterEnd = -1;
    int slaveEnd = -1;
    if (::openpty(&masterEnd, &slaveEnd, nullptr, nullptr, nullptr) < 0)
        throw MirvoError::message(u"Не удалось открыть защищённый канал входа."_s);
    FileDescriptor master(masterEnd);
    FileDescriptor slave(slaveEnd);
    termios attributes{};
    if (::tcgetattr(slave.get(), &attributes) < 0)
        throw MirvoError::message(u"Не удалось настроить канал входа."_s);
    // The password typed into the terminal must not come back in the output.
    attributes.c_lflag &= ~tcflag_t(ECHO | ECHONL);
    ::tcsetattr(slave.get(), TCSANOW, &attributes);
    ::fcntl(master.get(), F_SETFD, FD_CLOEXEC);
    ::fcntl(slave.get(), F_SETFD, FD_CLOEXEC);
    // An answer the tool does not read must fail rather than hold the GUI thread.
    ::fcntl(master.get(), F_SETFL, ::fcntl(master.get(), F_GETFL) | O_NONBLOCK);

    const QStringList arguments{u"auth"_s, u"login"_s, u"--email"_s, email, u"--format"_s, u"json"_s};
    std::shared_ptr<ChildProcess> child;
    try {
        child = ChildProcess::start(executable, arguments, ProcessRunner::environment(),
                                    {slave.get(), slave.get(), slave.get()});
    } catch (...) {
        cleanUp();
        throw;
    }
    slave.reset();
    m_state->process = child;
    qCInfo(lcSignIn) << "sign-in stage: tool-started";

    const QPointer<AuthenticationSession> self(this);
    try {
        m_state->reader = std::make_unique<TerminalReader>(std::move(master), [self] {
            QCoreApplication* application = QCoreApplication::instance();
            if (!application)
                return;
            QMetaObject::invokeMethod(
                application,
                [self] {
                    if (self)
                        self->consumeReceived();
                },
                Qt::QueuedConnection);
        });
    } catch (...) {
        // Dropping the last handle kills and reaps the tool.
        cleanUp();
        throw;
    }

    m_state->exit = std::make_unique<QFutureWatcher<void>>();
    connect(m_state->exit.get(), &QFutureWatcher<void>::finished, this, [this] {
        // The tool's last output may still be on its way.
        QTimer::singleShot(exitGraceMilliseconds, Qt::PreciseTimer, this, &AuthenticationSession::exited);
    });
    m_state->exit->setFuture(QtConcurrent::run(&ExitWaiters::shared(), [child] { child->wait(); }));

    std::function<void()> expire = [self] {
        if (self)
            self->timedOut();
    };
    const double limit = m_state->timeLimitSeconds;
    m_state->timeout = TaskHandle::start(
        [&expire, limit](std::stop_token stop) { return runAfter(limit, std::move(expire), stop); });
}

void AuthenticationSession::submit(const QString& text)
{
    State& state = *m_state;
    if (!state.reader || state.complete || text.contains(u'\n') || text.contains(u'\r'))
        throw MirvoError::message(invalidInput);
    const QByteArray bytes = text.toUtf8() + '\n';
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(state.reader->master(), bytes.constData() + written, std::size_t(bytes.size() - written));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError::fromErrno(errno);
        }
        written += count;
    }
    deliver(AuthenticationEvent::working());
}

void AuthenticationSession::cancel()
{
    if (m_state->process && !m_state->complete)
        qCInfo(lcSignIn) << "sign-in stage: cancelled";
    m_state->complete = true;
    if (m_state->process)
        m_state->process->terminate();
    cleanUp();
}

void AuthenticationSession::consumeReceived()
{
    if (!m_state->reader)
        return;
    const QStringList chunks = m_state->reader->take();
    const QPointer<AuthenticationSession> self(this);
    for (const QString& chunk : chunks) {
        consume(chunk);
        if (!self)
            return;
    }
}

void AuthenticationSession::consume(const QString& chunk)
{
    if (m_state->complete)
        return;
    QString text = chunk;
    text.remove(u'\r');
    QString& pending = m_state->pending;
    pending += text;
    if (utf8Size(pending) > pendingLimitBytes)
        pending = lastCharacters(pending, keptCharacters);

    const QPointer<AuthenticationSession> self(this);
    // `pending` stays valid while `self` does.
    for (qsizetype end = pending.indexOf(u'\n'); end >= 0; end = pending.indexOf(u'\n')) {
        const QString line = pending.left(end);
        pending.remove(0, end + 1);
        m_state->promptOffered = false;
        const QList<QJsonObject> objects = OutputParser::objects(line);
        for (const QJsonObject& object : objects) {
            apply(object);
            // Whatever follows the final line belongs to no attempt.
            if (!self || m_state->complete)
                return;
        }
    }
    offerPlainPrompt();
}

void AuthenticationSession::apply(const QJsonObject& object)
{
    const QJsonValue success = object.value(u"success"_s);
    const QJsonValue error = object.value(u"error"_s);
    if (error.isString() && success.isBool() && !success.toBool()) {
        finish(AuthenticationEvent::failure(OutputParser::friendlyError(error.toString())));
        return;
    }
    const QJsonValue email = object.value(u"email"_s);
    if (success.isBool() && success.toBool() && email.isString()) {
        finish(AuthenticationEvent::success(email.toString()));
        return;
    }
    const QJsonValue message = object.value(u"message"_s);
    if (!message.isString())
        return;
    const QString lowered = message.toString().toLower();
    if (lowered.contains(u"enter password"_s)) {
        deliver(AuthenticationEvent::password());
    } else if (lowered.contains(u"2fa code"_s)) {
        deliver(AuthenticationEvent::code());
    } else if (lowered.contains(u"passphrase"_s)) {
        if (finish(AuthenticationEvent::failure(u"IPATool запрашивает пароль хранилища. Настройте системную "
                                                u"связку ключей IPATool в Терминале."_s)))
            cancel();
    }
}

// ipatool 2.6 and later write their prompts as plain text without a line feed.
void AuthenticationSession::offerPlainPrompt()
{
    State& state = *m_state;
    if (state.complete || state.promptOffered)
        return;
    QStringView tail(state.pending);
    while (!tail.isEmpty() && tail.back().isSpace())
        tail.chop(1);
    if (tail.endsWith(u"enter password:"_s, Qt::CaseInsensitive)) {
        state.promptOffered = true;
        deliver(AuthenticationEvent::password());
    } else if (tail.endsWith(u"2fa code:"_s, Qt::CaseInsensitive)) {
        state.promptOffered = true;
        deliver(AuthenticationEvent::code());
    }
}

void AuthenticationSession::exited()
{
    const QPointer<AuthenticationSession> self(this);
    if (m_state->reader) {
        // On Linux the terminal stops answering reads once the tool is gone: take what it still holds.
        m_state->reader->stop(true);
        consumeReceived();
        if (!self)
            return;
    }
    if (!m_state->complete)
        qCInfo(lcSignIn) << "sign-in stage: tool-exited-without-answer";
    if (!finish(
            AuthenticationEvent::failure(u"Вход не подтверждён. Проверьте данные и повторите попытку. Если "
                                         u"Apple изменила вход, обновите IPATool."_s)))
        return;
    cleanUp();
}

void AuthenticationSession::timedOut()
{
    if (m_state->complete)
        return;
    qCInfo(lcSignIn) << "sign-in stage: timed-out";
    if (finish(AuthenticationEvent::failure(u"Время входа истекло. Попробуйте ещё раз."_s)))
        cancel();
}

bool AuthenticationSession::finish(const AuthenticationEvent& event)
{
    if (m_state->complete)
        return true;
    m_state->complete = true;
    m_state->timeout.cancel();
    return deliver(event);
}

bool AuthenticationSession::deliver(const AuthenticationEvent& event)
{
    qCInfo(lcSignIn) << "sign-in stage:" << stageName(event.kind);
    const QPointer<AuthenticationSession> self(this);
    // A copy: the receiver may destroy the session, and with it the stored callback.
    const Receive receive = m_state->receive;
    if (receive)
        receive(event);
    return !self.isNull();
}

void AuthenticationSession::cleanUp()
{
    State& state = *m_state;
    state.timeout.cancel();
    state.timeout = {};
    state.reader.reset();
    state.exit.reset();
    state.process.reset();
    state.pending.clear();
    state.promptOffered = false;
}

} // namespace mirvo
