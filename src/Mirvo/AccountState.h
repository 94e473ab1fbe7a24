#pragma once

#include "AuthenticationEvent.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

namespace mirvo {

class AppModel;

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

public:
    // The account sheet that is open.
    enum class Modal { None, AppleID };
    Q_ENUM(Modal)

    explicit AccountState(AppModel& root);

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

    QCoro::Task<> restoreAccount();

Q_SIGNALS:
    void modalChanged();
    void emailChanged();
    void loginStageChanged();
    void loginStartedChanged();

private:
    Modal m_modal = Modal::None;
    QString m_email;
    AuthenticationEvent m_loginStage;
    bool m_loginStarted = false;
};

} // namespace mirvo
