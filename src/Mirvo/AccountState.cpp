#include "AccountState.h"

#include "AppModel.h"
#include "AssignProperty.h"
#include "AuthenticationSession.h"
#include "MirvoError.h"
#include "SystemError.h"

#include <QPointer>
#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

AccountState::AccountState(AppModel& root)
    : QObject(&root)
    , m_root(root)
{
}

AccountState::~AccountState() = default;

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

QCoro::Task<> AccountState::restoreAccount(std::stop_token stop)
{
    if (!m_root.service().locator().find(u"ipatool"_s) || m_root.components()->ipatoolNeedsUpdate())
        co_return;
    QPointer<AccountState> self(this);
    try {
        const QString email = co_await m_root.service().account(stop);
        if (self)
            setEmail(email);
    } catch (const std::exception&) {
        // Not signed in, or not known: the user is shown as signed out.
    }
}

void AccountState::startLogin(const QString& email)
{
    const QString address = email.trimmed();
    if (!address.contains(u'@') || address.contains(u'\n') || address.contains(u'\r')) {
        setLoginStage(AuthenticationEvent::failure(u"Введите адрес Apple ID."_s));
        return;
    }
    if (m_root.components()->ipatoolNeedsUpdate()) {
        setLoginStage(AuthenticationEvent::failure(
            u"Сейчас не удаётся войти. Обновите «Сольвена» и попробуйте ещё раз."_s));
        return;
    }
    if (!m_root.service().locator().find(u"ipatool"_s)) {
        setLoginStage(AuthenticationEvent::failure(
            u"IPATool ещё подготавливается. Подождите несколько секунд и повторите попытку."_s));
        return;
    }
    if (m_session)
        m_session->cancel();

    setLoginStarted(true);
    setLoginStage(AuthenticationEvent::working());
    m_passwordSubmitted = false;
    QPointer<AccountState> self(this);
    m_session = std::make_unique<AuthenticationSession>([self](const AuthenticationEvent& event) {
        if (self)
            self->receive(event);
    });
    try {
        m_session->start(m_root.service().locator().require(u"ipatool"_s), address);
    } catch (const std::exception& error) {
        setLoginStage(AuthenticationEvent::failure(localizedDescription(error)));
    }
}

void AccountState::receive(const AuthenticationEvent& event)
{
    setLoginStage(event);
    if (event.kind == AuthenticationEvent::Kind::Failure)
        m_passwordSubmitted = false;
    if (event.kind == AuthenticationEvent::Kind::Success) {
        setEmail(event.payload);
        setLoginStarted(false);
        m_root.setNotice(u"Apple ID подключён. Можно загружать доступные ему приложения."_s, false);
    }
}

void AccountState::cancelLogin()
{
    if (m_session)
        m_session->cancel();
    m_session.reset();
    setLoginStarted(false);
    setLoginStage(AuthenticationEvent::working());
}

void AccountState::stopSession()
{
    if (m_session)
        m_session->cancel();
}

bool AccountState::submitPassword(const QString& password)
{
    if (m_passwordSubmitted || password.isEmpty())
        return false;
    m_passwordSubmitted = true;
    return submit(password);
}

bool AccountState::submitCode(const QString& code)
{
    static const QRegularExpression sixDigits(u"^[0-9]{6}$"_s);
    return sixDigits.match(code).hasMatch() && submit(code);
}

bool AccountState::submit(const QString& text)
{
    try {
        if (!m_session)
            throw MirvoError::message(u"Недопустимый ввод."_s);
        m_session->submit(text);
        return true;
    } catch (const std::exception& error) {
        setLoginStage(AuthenticationEvent::failure(localizedDescription(error)));
        return false;
    }
}

QCoro::Task<> AccountState::logout()
{
    if (m_root.busy())
        co_return;
    QPointer<AccountState> self(this);
    co_await m_root.service().logout({});
    if (!self)
        co_return;
    setEmail({});
    m_root.catalog()->setSearch({});
    if (!m_root.busy())
        m_root.catalog()->setSelectedAppIDs({});
    m_root.setNotice(u"Вы вышли из Apple ID."_s, false);
}

void AccountState::signOut()
{
    runSignOut();
}

QCoro::Task<> AccountState::runSignOut()
{
    QPointer<AccountState> self(this);
    assignProperty(this, m_logoutError, QString(), &AccountState::logoutErrorChanged);
    try {
        co_await logout();
    } catch (const std::exception& error) {
        if (self)
            assignProperty(this, m_logoutError, localizedDescription(error),
                           &AccountState::logoutErrorChanged);
    }
}

} // namespace mirvo
