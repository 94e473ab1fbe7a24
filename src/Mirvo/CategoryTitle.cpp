#include "CategoryTitle.h"

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

QString categoryTitle(const QString& category)
{
    const QString trimmed = category.trimmed();
    return trimmed.isEmpty() ? u"Без категории"_s : trimmed;
}

} // namespace mirvo
