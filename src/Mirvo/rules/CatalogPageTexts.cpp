#include "CatalogPageTexts.h"

#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

QString CatalogPageTexts::directInstallID(const QString& searchText)
{
    static const QRegularExpression digits(QRegularExpression::anchoredPattern(u"[0-9]{1,18}"_s));
    const QString text = searchText.trimmed();
    if (!digits.match(text).hasMatch())
        return {};
    // Eighteen digits always fit, so the conversion cannot fail.
    const qulonglong id = text.toULongLong();
    return id == 0 ? QString() : QString::number(id);
}

QString CatalogPageTexts::directInstallHelp(const QString& searchText)
{
    const QString id = directInstallID(searchText);
    if (id.isEmpty())
        return {};
    return u"Установить приложение с App Store ID "_s + id;
}

QString CatalogPageTexts::batchHint(bool signedIn, const Device& selectedDevice, bool canDownload, bool busy)
{
    if (!signedIn)
        return u"Подключите Apple ID, чтобы скачать выбранные приложения."_s;
    if (selectedDevice.id.isEmpty() || !selectedDevice.ready)
        return u"iPhone не подключён: выбранные приложения будут скачаны и сохранены на Mac."_s;
    if (!canDownload && !busy)
        return u"Подготавливаем доступ к загрузке. Подождите несколько секунд."_s;
    return {};
}

QString CatalogPageTexts::selectAllTitle(bool allFilteredSelected)
{
    return allFilteredSelected ? u"Снять видимые"_s : u"Выбрать все"_s;
}

QString CatalogPageTexts::rowCheckboxHelp(const QString& name, bool selected)
{
    if (selected)
        return u"Убрать "_s + name + u" из выбранных"_s;
    return u"Выбрать "_s + name;
}

} // namespace mirvo
