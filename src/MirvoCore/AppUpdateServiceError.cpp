#include "AppUpdateServiceError.h"

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

AppUpdateServiceError::AppUpdateServiceError(Kind kind)
    : m_kind(kind)
    , m_utf8(errorDescription().toUtf8())
{
}

QString AppUpdateServiceError::errorDescription() const
{
    switch (m_kind) {
    case Kind::Unavailable:
        return u"Не удалось проверить обновления. Проверьте подключение к интернету и повторите попытку."_s;
    case Kind::InvalidResponse:
        return u"Сервер обновлений вернул некорректные данные. Попробуйте ещё раз позже."_s;
    }
    return {};
}

} // namespace mirvo
