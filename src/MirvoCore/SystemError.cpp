#include "SystemError.h"

#include "AppUpdateServiceError.h"
#include "CancelledError.h"
#include "MirvoError.h"

#include <cerrno>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

QString errnoText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return u"Нет доступа."_s;
    case ENOSPC:
    case EDQUOT:
        return u"Недостаточно места на диске."_s;
    case EEXIST:
        return u"Файл уже существует."_s;
    case ENOTDIR:
        return u"Путь ведёт не к папке."_s;
    case EISDIR:
        return u"Путь ведёт к папке, а не к файлу."_s;
    case EROFS:
        return u"Файловая система доступна только для чтения."_s;
    case ENOENT:
        return u"Файл или папка не найдены."_s;
    case ELOOP:
        return u"Символические ссылки в пути ведут по кругу."_s;
    case ENOEXEC:
        return u"Файл не является программой для этого компьютера."_s;
    case EMFILE:
    case ENFILE:
        return u"Открыто слишком много файлов."_s;
    case ENOMEM:
        return u"Недостаточно памяти."_s;
    case ETIMEDOUT:
        return u"Время ожидания истекло."_s;
    case ECONNREFUSED:
        return u"Сервер отклонил подключение."_s;
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace

SystemError::SystemError(QString description)
    : m_description(std::move(description))
    , m_utf8(m_description.toUtf8())
{
}

SystemError SystemError::fromErrno(int error, const QString& context)
{
    QString text = errnoText(error);
    if (!context.isEmpty())
        text += u" ("_s + context + u')';
    return SystemError(text);
}

QString localizedDescription(const std::exception& error)
{
    if (const auto* mirvo = dynamic_cast<const MirvoError*>(&error))
        return mirvo->errorDescription();
    if (const auto* system = dynamic_cast<const SystemError*>(&error))
        return system->description();
    if (const auto* update = dynamic_cast<const AppUpdateServiceError*>(&error))
        return update->errorDescription();
    if (dynamic_cast<const CancelledError*>(&error))
        return u"Операция остановлена."_s;
    return QString::fromUtf8(error.what());
}

} // namespace mirvo
