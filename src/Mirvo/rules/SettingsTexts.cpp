#include "SettingsTexts.h"

#include <QLocale>

#include <array>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

QString SettingsTexts::checkTitle(bool checking)
{
    return checking ? u"Проверяем…"_s : u"Проверить"_s;
}

QString SettingsTexts::overallStatus(const QStringList& missingTools, bool ipatoolNeedsUpdate)
{
    if (missingTools.isEmpty() && !ipatoolNeedsUpdate)
        return u"Компоненты готовы к работе"_s;
    return u"Нужно подготовить компоненты"_s;
}

QString SettingsTexts::detailLine(const QStringList& missingTools, bool ipatoolNeedsUpdate)
{
    if (!missingTools.isEmpty())
        return u"Не установлены: "_s + missingTools.join(u", "_s) + u"."_s;
    if (ipatoolNeedsUpdate)
        return u"Версия IPATool ниже минимально поддерживаемой."_s;
    return u"IPATool и go-ios доступны в данных приложения."_s;
}

QVariantList SettingsTexts::components()
{
    return {
        QVariantMap{
            {u"name"_s, u"ipatool"_s}, {u"title"_s, u"IPATool"_s}, {u"detail"_s, u"Загрузка IPA из Apple"_s}},
        QVariantMap{{u"name"_s, u"ios"_s},
                    {u"title"_s, u"go-ios"_s},
                    {u"detail"_s, u"Подключение и установка на iPhone"_s}},
    };
}

QString SettingsTexts::componentVersion(const QVariantMap& versions, const QString& name)
{
    const QString version = versions.value(name).toString();
    return version.isEmpty() ? u"Версия не определена"_s : version;
}

QString SettingsTexts::componentStatus(const QString& name, const QStringList& missingTools,
                                       bool ipatoolNeedsUpdate)
{
    if (missingTools.contains(name))
        return u"Не установлен"_s;
    if (name == u"ipatool"_s && ipatoolNeedsUpdate)
        return u"Нужно обновление"_s;
    return u"Готов"_s;
}

QString SettingsTexts::installTitle(bool installing, const QStringList& missingTools, bool ipatoolNeedsUpdate)
{
    if (installing)
        return u"Устанавливаем компоненты…"_s;
    if (missingTools.isEmpty() && ipatoolNeedsUpdate)
        return u"Обновить IPATool"_s;
    return u"Установить недостающие компоненты"_s;
}

QString SettingsTexts::progressText(bool installing, bool checking, const QString& stage)
{
    if (!installing && !checking)
        return {};
    if (!stage.isEmpty())
        return stage;
    return installing ? u"Подготавливаем компоненты…"_s : u"Проверяем компоненты…"_s;
}

QString SettingsTexts::cacheSize(qint64 bytes)
{
    // QLocale's own data sizes read "байты" and "кБ" in Russian, so the units are spelled out here.
    static const std::array units{u"КБ"_s, u"МБ"_s, u"ГБ"_s, u"ТБ"_s, u"ПБ"_s, u"ЭБ"_s};
    if (bytes < 1024)
        return QString::number(std::max<qint64>(bytes, 0)) + u" Б"_s;
    double value = double(bytes) / 1024;
    std::size_t unit = 0;
    // Moves up while the shown value would round to 1024 or more, so 1023,96 КБ reads "1,0 МБ".
    while (unit + 1 < units.size() && std::round(value * 10) >= 1024 * 10) {
        value /= 1024;
        ++unit;
    }
    QLocale russian(QLocale::Russian);
    russian.setNumberOptions(QLocale::OmitGroupSeparator);
    return russian.toString(value, 'f', 1) + u" "_s + units[unit];
}

} // namespace mirvo
