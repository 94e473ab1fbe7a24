#include "UpdateDialogTexts.h"

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

using Kind = UpdateDialogState::Kind;

bool UpdateDialogTexts::isNewBuild(const UpdateDialogState& state, const QString& currentVersion)
{
    return state.kind == Kind::Available && state.manifest.version == currentVersion;
}

QString UpdateDialogTexts::title(const UpdateDialogState& state, const QString& currentVersion)
{
    switch (state.kind) {
    case Kind::Available:
        return isNewBuild(state, currentVersion) ? u"Доступна новая сборка"_s : u"Доступна новая версия"_s;
    case Kind::Current:
        return u"У вас последняя версия"_s;
    case Kind::Failure:
        return u"Не удалось проверить обновления"_s;
    case Kind::Checking:
        return u"Проверяем обновления"_s;
    case Kind::None:
        break;
    }
    return {};
}

QString UpdateDialogTexts::subtitle(const UpdateDialogState& state, const QString& currentVersion)
{
    switch (state.kind) {
    case Kind::Available:
        if (isNewBuild(state, currentVersion))
            return u"Сольвена "_s + state.manifest.version + u", сборка "_s +
                   QString::number(state.manifest.build) + u", готова к установке"_s;
        return u"Сольвена "_s + state.manifest.version + u" готова к установке"_s;
    case Kind::Current:
        return u"Сольвена "_s + state.text + u" уже установлена"_s;
    case Kind::Failure:
        return u"Повторите проверку немного позже"_s;
    case Kind::Checking:
        return u"Сольвена"_s;
    case Kind::None:
        break;
    }
    return {};
}

QString UpdateDialogTexts::message(const UpdateDialogState& state)
{
    switch (state.kind) {
    case Kind::Current:
        return u"Обновлять ничего не нужно. Мы сообщим, когда появится новая версия."_s;
    case Kind::Checking:
        return u"Подключаемся к серверу обновлений. Обычно это занимает несколько секунд."_s;
    case Kind::Failure:
        return state.text;
    case Kind::Available:
    case Kind::None:
        break;
    }
    return {};
}

QString UpdateDialogTexts::installedLine(const QString& currentVersion, qint64 currentBuild)
{
    return u"Установлена "_s + currentVersion + u" · сборка "_s + QString::number(currentBuild);
}

QString UpdateDialogTexts::availableLine(const UpdateDialogState& state)
{
    if (state.kind != Kind::Available)
        return {};
    return u"Версия "_s + state.manifest.version + u" · сборка "_s + QString::number(state.manifest.build);
}

QString UpdateDialogTexts::downloadTitle(const UpdateDialogState& state, const QString& currentVersion)
{
    if (state.kind != Kind::Available)
        return {};
    return isNewBuild(state, currentVersion) ? u"Скачать сборку"_s : u"Скачать обновление"_s;
}

QString UpdateDialogTexts::menuTitle(bool checking)
{
    return checking ? u"Проверяем обновления…"_s : u"Проверить обновления…"_s;
}

} // namespace mirvo
