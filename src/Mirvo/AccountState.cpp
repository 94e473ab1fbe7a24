#include "AccountState.h"

#include "AppModel.h"
#include "AssignProperty.h"

namespace mirvo {

AccountState::AccountState(AppModel& root)
    : QObject(&root)
{
}

void AccountState::setModal(Modal modal)
{
    assignProperty(this, m_modal, modal, &AccountState::modalChanged);
}

void AccountState::setEmail(const QString& email)
{
    assignProperty(this, m_email, email, &AccountState::emailChanged);
}

void AccountState::setLoginStage(const AuthenticationEvent& stage)
{
    assignProperty(this, m_loginStage, stage, &AccountState::loginStageChanged);
}

void AccountState::setLoginStarted(bool started)
{
    assignProperty(this, m_loginStarted, started, &AccountState::loginStartedChanged);
}

QCoro::Task<> AccountState::restoreAccount()
{
    // Asking ipatool for the signed-in Apple ID arrives with the sign-in flow.
    co_return;
}

} // namespace mirvo
