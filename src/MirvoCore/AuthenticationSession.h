#pragma once

#include "AuthenticationEvent.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace mirvo {

// One Apple ID sign-in: runs `ipatool auth login` on a pseudo-terminal, reads its prompts and its final
// line, and reports each as an event to its owner, who answers the prompts through submit(). Every event
// and every operation is on the GUI thread; the terminal is read on a thread of its own.
class AuthenticationSession : public QObject {
    Q_OBJECT

public:
    using Receive = std::function<void(const AuthenticationEvent& event)>;

    static constexpr double defaultTimeLimitSeconds = 300.0;

    // `timeLimitSeconds` is the whole attempt's limit, measured on the continuous clock.
    explicit AuthenticationSession(Receive receive, double timeLimitSeconds = defaultTimeLimitSeconds,
                                   QObject* parent = nullptr);
    // Stops the tool without an event.
    ~AuthenticationSession() override;

    // Starts `executable auth login --email <email> --format json` on the terminal. Does nothing while a
    // tool runs or once the attempt has ended. Throws MirvoError when the terminal cannot be prepared and
    // SystemError when the launch fails.
    void start(const QString& executable, const QString& email);
    // Sends one answer (the password or the code) followed by a line feed, then reports `working`.
    // Throws MirvoError("Недопустимый ввод.") when nothing is running, the attempt has ended or the text
    // holds a line break; throws SystemError when the write fails.
    void submit(const QString& text);
    // Ends the attempt at once, without an event; the tool gets SIGTERM, and SIGKILL 2.0 s later.
    void cancel();
    // Reads one piece of the tool's output, as the terminal delivered it, and reports what it completes.
    // The terminal's reader calls it; it needs no running tool, so the output can be fed to it directly.
    void consume(const QString& chunk);

private:
    struct State;

    void consumeReceived();
    void apply(const QJsonObject& object);
    void offerPlainPrompt();
    void exited();
    void timedOut();
    // Both return false when the receiver destroyed the session. finish() delivers a final event unless
    // the attempt has ended already.
    bool finish(const AuthenticationEvent& event);
    bool deliver(const AuthenticationEvent& event);
    void cleanUp();

    std::unique_ptr<State> m_state;
};

} // namespace mirvo
