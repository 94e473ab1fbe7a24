#include "SheetTexts.h"

#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

using Kind = AuthenticationEvent::Kind;

QString SheetTexts::installStatus(const Device& selectedDevice)
{
    if (!selectedDevice.id.isEmpty() && selectedDevice.ready)
        return u"iPhone подключён. Выберите, что сделать с приложением."_s;
    return u"iPhone не подключён. Приложение можно скачать на Mac."_s;
}

QString SheetTexts::installError(const QStringList& missingTools)
{
    return missingTools.isEmpty() ? QString()
                                  : u"Не удалось подготовить установку. Попробуйте ещё раз позже."_s;
}

bool SheetTexts::loginCanStart(const QStringList& missingTools, bool ipatoolNeedsUpdate)
{
    return !missingTools.contains(u"ipatool"_s) && !ipatoolNeedsUpdate;
}

QString SheetTexts::loginBlockedMessage(const QStringList& missingTools, bool ipatoolNeedsUpdate)
{
    // A missing tool is installed fresh, which also settles an outdated one.
    if (missingTools.contains(u"ipatool"_s))
        return u"Подготавливаем IPATool. Подождите несколько секунд."_s;
    if (ipatoolNeedsUpdate)
        return u"Для входа требуется обновить IPATool."_s;
    return {};
}

bool SheetTexts::canSubmitCredentials(const QString& email, const QString& password,
                                      const QStringList& missingTools, bool ipatoolNeedsUpdate)
{
    return loginCanStart(missingTools, ipatoolNeedsUpdate) && email.contains(u'@') && !password.isEmpty();
}

bool SheetTexts::codeAcceptable(const QString& code)
{
    static const QRegularExpression sixDigits(QRegularExpression::anchoredPattern(u"[0-9]{6}"_s));
    return sixDigits.match(code).hasMatch();
}

QString SheetTexts::loginStatus(const AuthenticationEvent& stage, bool passwordSubmitted)
{
    switch (stage.kind) {
    case Kind::Failure:
        return stage.payload;
    case Kind::Working:
        return passwordSubmitted ? u"Проверяем пароль…"_s : u"Подключаемся к Apple…"_s;
    case Kind::Success:
        return u"Аккаунт подключён"_s;
    case Kind::Password:
    case Kind::Code:
        break;
    }
    return {};
}

} // namespace mirvo
