#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

namespace mirvo::bench {

// A 512-pixel icon of one colour, a different hue for each index: what the icon cache holds for an app.
inline QByteArray iconPNG(int index)
{
    QImage image(512, 512, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(index * 37 % 360, 160, 230));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace mirvo::bench
