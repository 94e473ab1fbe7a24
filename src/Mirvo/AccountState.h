#pragma once

#include "AuthenticationEvent.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

#include <memory>
#include <stop_token>

namespace mirvo {

class AppModel;
class AuthenticationSession;

// The Apple ID: which one ipatool is signed in with, the sheet that manages it, and the sign-in attempt.
class AccountState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through AppModel.account")

    Q_PROPERTY(Modal modal READ modal WRITE setModal NOTIFY modalChanged)
    Q_PROPERTY(QString email READ email NOTIFY emailChanged)
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY emailChanged)
    Q_PROPERTY(mirvo::AuthenticationEvent loginStage READ loginStage NOTIFY loginStageChanged)
    Q_PROPERTY(bool loginStarted READ loginStarted NOTIFY loginStartedChanged)
    Q_PROPERTY(QString logoutError READ logoutError NOTIFY logoutErrorChanged)

public:
    // The account sheet that is open.
    enum class Modal { None, AppleID };
    Q_ENUM(Modal)

    explicit AccountState(AppModel& root);
    ~AccountState() override;

    Modal modal() const { return m_modal; }
    void setModal(Modal modal);
    // The signed-in Apple ID, empty when signed out or not yet known.
    const QString& email() const { return m_email; }
    void setEmail(const QString& email);
    bool signedIn() const { return !m_email.isEmpty(); }
    const AuthenticationEvent& loginStage() const { return m_loginStage; }
    void setLoginStage(const AuthenticationEvent& stage);
    bool loginStarted() const { return m_loginStarted; }
    void setLoginStarted(bool started);
    // Why the last sign-out from the sheet failed; empty when it did not.
    const QString& logoutError() const { return m_logoutError; }

    // Asks ipatool which Apple ID it is signed in with; keeps the old value on any failure.
    QCoro::Task<> restoreAccount(std::stop_token stop = {});

    // Starts a sign-in attempt on a new session, cancelling any earlier one. An unusable address or a
    // tool that is missing or too old ends it at once with a failure stage.
    Q_INVOKABLE void startLogin(const QString& email);
    Q_INVOKABLE void cancelLogin();
    // Stops a running sign-in as the application quits, changing nothing else.
    void stopSession();
    // The form's answers to the prompts. The password goes once per attempt, and again only after a
    // failure; the code only as six digits. Tells whether anything was sent.
    Q_INVOKABLE bool submitPassword(const QString& password);
    Q_INVOKABLE bool submitCode(const QString& code);

    // Signs out. Does nothing while an operation runs; throws when ipatool fails.
    QCoro::Task<> logout();
    // The sheet's sign-out button: a failure goes to logoutError.
    Q_INVOKABLE void signOut();

Q_SIGNALS:
    void modalChanged();
    void emailChanged();
    void loginStageChanged();
    void loginStartedChanged();
    void logoutErrorChanged();

private:
    void receive(const AuthenticationEvent& event);
    bool submit(const QString& text);
    QCoro::Task<> runSignOut();

    AppModel& m_root;
    Modal m_modal = Modal::None;
    QString m_email;
    AuthenticationEvent m_loginStage;
    bool m_loginStarted = false;
    QString m_logoutError;
    std::unique_ptr<AuthenticationSession> m_session;
    bool m_passwordSubmitted = false;
};

} // namespace mirvo
