#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace mirvo::test {

class AwaitTimedOut : public std::runtime_error {
public:
    AwaitTimedOut()
        : std::runtime_error("the awaited task did not finish in time")
    {
    }
};

namespace detail {

template <typename T> struct AwaitState {
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
    bool done = false;
    QEventLoop* loop = nullptr;
};

template <typename T> QCoro::Task<> capture(QCoro::Task<T> task, std::shared_ptr<AwaitState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            state->value = co_await std::move(task);
        }
    } catch (...) {
        state->error = std::current_exception();
    }
    state->done = true;
    if (state->loop)
        state->loop->quit();
}

} // namespace detail

// Runs the event loop until `task` finishes and returns its value or rethrows its error.
// Throws AwaitTimedOut when it takes longer than `timeoutMs`.
template <typename T> T awaitTask(QCoro::Task<T> task, int timeoutMs = 15000)
{
    auto state = std::make_shared<detail::AwaitState<T>>();
    detail::capture<T>(std::move(task), state);
    if (!state->done) {
        QEventLoop loop;
        state->loop = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        state->loop = nullptr;
    }
    if (!state->done)
        throw AwaitTimedOut();
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

} // namespace mirvo::test
