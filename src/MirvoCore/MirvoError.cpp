#include "MirvoError.h"

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

MirvoError::MirvoError(Kind kind, QString payload)
    : m_kind(kind)
    , m_payload(std::move(payload))
{
    m_utf8 = errorDescription().toUtf8();
}

QString MirvoError::errorDescription() const
{
    switch (m_kind) {
    case Kind::Message:
    case Kind::CommandFailed:
        return m_payload;
    case Kind::MissingTool:
        return u"Не найден "_s + m_payload + u". Откройте «Настройка» и установите компоненты."_s;
    case Kind::TimedOut:
        return u"Время ожидания истекло. Проверьте подключение и повторите попытку."_s;
    }
    return m_payload;
}

} // namespace mirvo
