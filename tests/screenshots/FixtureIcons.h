#pragma once

#include <QByteArray>
#include <QString>

namespace mirvo::screenshots {

// A hash of `text` that is the same in every process.
quint32 stableHash(const QString& text);

// A square PNG of `size` pixels: a rounded tile in a colour that follows from `seed`, with the first letter
// of `label` on it. Needs a QGuiApplication (for the font).
QByteArray iconPNG(const QString& seed, const QString& label, int size);

} // namespace mirvo::screenshots
