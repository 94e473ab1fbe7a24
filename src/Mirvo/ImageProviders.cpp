#include "ImageProviders.h"

#include "IconImageProvider.h"
#include "SymbolImageProvider.h"

#include <QQmlEngine>

namespace mirvo {

void installImageProviders(QQmlEngine& engine, AppModel& model)
{
    engine.addImageProvider(IconImageProvider::providerId, new IconImageProvider(&model));
    engine.addImageProvider(SymbolImageProvider::providerId, new SymbolImageProvider);
}

} // namespace mirvo
