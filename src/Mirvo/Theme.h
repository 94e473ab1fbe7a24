#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The colour palette every screen uses.
class Theme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(QColor ink READ ink CONSTANT)
    Q_PROPERTY(QColor muted READ muted CONSTANT)
    Q_PROPERTY(QColor error READ error CONSTANT)
    Q_PROPERTY(QColor background READ background CONSTANT)
    Q_PROPERTY(QColor surface READ surface CONSTANT)
    Q_PROPERTY(QColor sidebar READ sidebar CONSTANT)
    Q_PROPERTY(QColor border READ border CONSTANT)
    Q_PROPERTY(QColor accent READ accent CONSTANT)
    Q_PROPERTY(QColor accentText READ accentText CONSTANT)
    Q_PROPERTY(QColor success READ success CONSTANT)
    Q_PROPERTY(QColor selection READ selection CONSTANT)
    Q_PROPERTY(QColor errorBackground READ errorBackground CONSTANT)
    Q_PROPERTY(QColor successBackground READ successBackground CONSTANT)

public:
    using QObject::QObject;

    static QColor ink() { return QColor::fromRgb(0, 0, 0); }
    static QColor muted() { return QColor::fromRgb(110, 110, 115); }
    static QColor error() { return QColor::fromRgb(215, 0, 21); }
    static QColor background() { return QColor::fromRgb(245, 245, 247); }
    static QColor surface() { return QColor::fromRgb(255, 255, 255); }
    static QColor sidebar() { return QColor::fromRgb(250, 250, 252); }
    static QColor border() { return QColor::fromRgb(210, 210, 215); }
    // Primary buttons, links, focus and the highlighted text selection; accentText is text on the accent.
    static QColor accent() { return QColor::fromRgb(10, 132, 255); }
    static QColor accentText() { return QColor::fromRgb(255, 255, 255); }
    static QColor success() { return QColor::fromRgb(52, 199, 89); }
    // The background of a selected row: the accent, faint.
    static QColor selection() { return QColor::fromRgb(10, 132, 255, 36); }
    // The notice banner's ground after a failure and after a success.
    static QColor errorBackground() { return QColor::fromRgb(255, 235, 235); }
    static QColor successBackground() { return QColor::fromRgb(232, 248, 236); }
};

} // namespace mirvo
