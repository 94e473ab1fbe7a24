#pragma once

#include <QString>

namespace mirvo {

// The category a list shows for an app: trimmed, with a title of its own when there is none.
QString categoryTitle(const QString& category);

} // namespace mirvo
