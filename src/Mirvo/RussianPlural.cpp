#include "RussianPlural.h"

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

QString appsWord(qint64 n)
{
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return u"приложений"_s;
    if (last == 1)
        return u"приложение"_s;
    if (last >= 2 && last <= 4)
        return u"приложения"_s;
    return u"приложений"_s;
}

} // namespace mirvo
