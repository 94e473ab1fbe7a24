#include "SymbolImageProvider.h"

#include "Theme.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

QString resourcePath(const QString& name)
{
    return u":/icons/symbols/"_s + name + u".svg"_s;
}

// The size to draw at: the requested one, its missing side filled in from the icon's proportions, or the
// icon's own.
QSize targetSize(QSize natural, QSize requested)
{
    if (natural.isEmpty())
        natural = QSize(16, 16);
    if (requested.width() > 0 && requested.height() > 0)
        return requested;
    if (requested.width() > 0)
        return QSize(requested.width(), qMax(1, requested.width() * natural.height() / natural.width()));
    if (requested.height() > 0)
        return QSize(qMax(1, requested.height() * natural.width() / natural.height()), requested.height());
    return natural;
}

} // namespace

SymbolImageProvider::SymbolImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

bool SymbolImageProvider::hasSymbol(const QString& name)
{
    return !name.isEmpty() && !name.contains(u'/') && QFile::exists(resourcePath(name));
}

QString SymbolImageProvider::source(const QString& name, const QColor& color)
{
    return u"image://"_s + providerId + u'/' + name + u'?' +
           QString::fromLatin1(
               QUrl::toPercentEncoding(color.name(color.alpha() == 255 ? QColor::HexRgb : QColor::HexArgb)));
}

QImage SymbolImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize)
{
    const qsizetype question = id.indexOf(u'?');
    const QString name = id.left(question);
    QColor color = Theme::ink();
    if (question >= 0) {
        const QColor asked =
            QColor::fromString(QUrl::fromPercentEncoding(QStringView(id).mid(question + 1).toUtf8()));
        if (asked.isValid())
            color = asked;
    }

    QSvgRenderer renderer;
    if (!hasSymbol(name) || !renderer.load(resourcePath(name))) {
        qWarning("No symbol icon called \"%s\"", qUtf8Printable(name));
        const QSize target = targetSize({}, requestedSize);
        QImage empty(target, QImage::Format_ARGB32_Premultiplied);
        empty.fill(Qt::transparent);
        if (size)
            *size = target;
        return empty;
    }

    const QSize natural = renderer.defaultSize();
    if (size)
        *size = natural.isEmpty() ? QSize(16, 16) : natural;
    QImage image(targetSize(natural, requestedSize), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    renderer.render(&painter);
    // Keep the drawing's coverage and paint it over in the one colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    return image;
}

} // namespace mirvo
