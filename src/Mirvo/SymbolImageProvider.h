#pragma once

#include <QColor>
#include <QQuickImageProvider>
#include <QString>

namespace mirvo {

// Serves "image://symbols/<name>?<colour>" to QML: the single-coloured icon src/Mirvo/icons/<name>.svg drawn
// at the requested size in one colour. The colour is percent-encoded ("%230a84ff" for #0a84ff; Symbol.qml
// encodes it) and may be anything QColor reads: #rgb, #rrggbb, #aarrggbb or a name; without one, or with one
// QColor does not read, the icon is drawn in Theme.ink. Without a requested size the icon keeps its own
// (16 × 16 for the set we ship); with one side only, the other follows the icon's proportions. An unknown
// name gives a transparent image of the requested size and a warning, so the layout keeps its place.
class SymbolImageProvider : public QQuickImageProvider {
public:
    static inline const QString providerId = QStringLiteral("symbols");

    SymbolImageProvider();

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;

    // The image source of a symbol in a colour.
    static QString source(const QString& name, const QColor& color);
    // Whether an icon of that name ships with the application.
    static bool hasSymbol(const QString& name);
};

} // namespace mirvo
