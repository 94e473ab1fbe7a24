#pragma once

#include <QObject>
#include <QString>

namespace mirvo {

// What the Apple ID sign-in reports to its owner: a final success or failure, a prompt, or work in progress.
struct AuthenticationEvent {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(QString payload MEMBER payload)

public:
    enum class Kind { Success, Failure, Password, Code, Working };
    Q_ENUM(Kind)

    Kind kind = Kind::Working;
    QString payload; // the e-mail for Success, the Russian message for Failure

    static AuthenticationEvent success(QString email) { return {Kind::Success, std::move(email)}; }
    static AuthenticationEvent failure(QString message) { return {Kind::Failure, std::move(message)}; }
    static AuthenticationEvent password() { return {Kind::Password, {}}; }
    static AuthenticationEvent code() { return {Kind::Code, {}}; }
    static AuthenticationEvent working() { return {Kind::Working, {}}; }

    bool operator==(const AuthenticationEvent&) const = default;
};

} // namespace mirvo
