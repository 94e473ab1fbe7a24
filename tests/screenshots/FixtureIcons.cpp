#include "FixtureIcons.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace mirvo::screenshots {

quint32 stableHash(const QString& text)
{
    // FNV-1a over the UTF-8 bytes: the same pictures and categories on every run.
    quint32 hash = 2166136261u;
    for (const char byte : text.toUtf8()) {
        hash ^= quint8(byte);
        hash *= 16777619u;
    }
    return hash;
}

QByteArray iconPNG(const QString& seed, const QString& label, int size)
{
    const int hue = int(stableHash(seed) % 360);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient gradient(0, 0, 0, size);
        gradient.setColorAt(0, QColor::fromHsv(hue, 150, 245));
        gradient.setColorAt(1, QColor::fromHsv(hue, 210, 200));
        QPainterPath tile;
        tile.addRoundedRect(QRectF(0, 0, size, size), size * 0.22, size * 0.22);
        painter.fillPath(tile, gradient);
        QFont font;
        font.setPixelSize(size / 2);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        const QString letter = label.trimmed().left(1).toUpper();
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, letter);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace mirvo::screenshots
