#pragma once

#include <QString>

namespace mirvo {

// "приложение", "приложения" or "приложений", as Russian counts n apps.
QString appsWord(qint64 n);

} // namespace mirvo
