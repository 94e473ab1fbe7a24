#include "StepCardTexts.h"

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

QString StepCardTexts::appleIDTitle(bool signedIn)
{
    return signedIn ? u"Управление Apple ID"_s : u"Подключить Apple ID"_s;
}

QString StepCardTexts::appleIDSubtitle(const QString& account, bool ipatoolNeedsUpdate,
                                       const QStringList& missingTools)
{
    if (!account.isEmpty())
        return account;
    if (ipatoolNeedsUpdate)
        return u"Обновляем компонент для входа."_s;
    if (missingTools.contains(u"ipatool"_s))
        return u"Готовим компонент для входа."_s;
    return u"Нужен для скачивания приложений из App Store."_s;
}

bool StepCardTexts::iPhoneConnected(const Device& device, const QStringList& missingTools)
{
    return !device.id.isEmpty() && device.ready && device.transport == DeviceTransport::Usb &&
           !missingTools.contains(u"ios"_s);
}

QString StepCardTexts::iPhoneTitle(bool connected)
{
    return connected ? u"iPhone подключён"_s : u"Подключите iPhone"_s;
}

QString StepCardTexts::iPhoneSubtitle(const Device& device, const QStringList& missingTools,
                                      bool toolsInstalling)
{
    if (missingTools.contains(u"ios"_s))
        return toolsInstalling ? u"Готовим компонент подключения."_s : u"Компонент подключения недоступен."_s;
    if (device.id.isEmpty())
        return u"Подключите и разблокируйте iPhone кабелем USB."_s;
    if (device.ready && device.transport == DeviceTransport::Usb) {
        if (!device.version.isEmpty())
            return device.name + u", iOS "_s + device.version + u"."_s;
        return device.name + u" подключён по USB."_s;
    }
    return u"Проверьте кабель и разблокируйте iPhone."_s;
}

QString StepCardTexts::checkCableTitle(bool refreshing)
{
    return refreshing ? u"Проверяем подключение…"_s : u"Проверить кабель"_s;
}

} // namespace mirvo
