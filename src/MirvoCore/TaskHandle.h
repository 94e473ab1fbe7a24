#pragma once

#include <QCoro/QCoroTask>

#include <memory>
#include <stop_token>

namespace mirvo {

// Owns a running coroutine the way a cancellable background task is owned: cancelling requests a stop,
// dropping the handle lets the coroutine run on. It never destroys a suspended coroutine frame.
class TaskHandle {
public:
    TaskHandle() = default;

    // Starts `makeTask(stopToken)`, which must return a QCoro::Task<> that handles its own failures.
    template <typename MakeTask> static TaskHandle start(MakeTask&& makeTask)
    {
        auto state = std::make_shared<State>();
        state->serial = ++s_serial;
        QCoro::Task<> task = makeTask(state->source.get_token());
        track(std::move(task), state);
        return TaskHandle(std::move(state));
    }

    bool isEmpty() const { return !m_state; }
    bool isFinished() const { return m_state && m_state->finished; }
    bool isCancelled() const { return m_state && m_state->source.stop_requested(); }
    // Tells two started tasks apart.
    quint64 serial() const { return m_state ? m_state->serial : 0; }
    void cancel() const
    {
        if (m_state)
            m_state->source.request_stop();
    }

private:
    struct State {
        std::stop_source source;
        bool finished = false;
        quint64 serial = 0;
    };

    explicit TaskHandle(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {
    }

    static QCoro::Task<> track(QCoro::Task<> task, std::shared_ptr<State> state);

    static inline quint64 s_serial = 0;
    std::shared_ptr<State> m_state;
};

} // namespace mirvo
