#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

// What the tests of the real QML share: finding items, clicking and typing.
namespace mirvo::test {

// The item called `name` below `root`, with a warning when there is none.
inline QQuickItem* findItem(const QObject* root, const QString& name)
{
    auto* found = root ? root->findChild<QQuickItem*>(name) : nullptr;
    if (!found)
        qWarning().noquote() << "no item" << name;
    return found;
}

// Every item below `root` called `name`, in the order of the visual tree. Delegates and Repeater rows are no
// QObject children of what holds them: only the visual tree finds them.
inline QList<QQuickItem*> itemsNamed(QQuickItem* root, const QString& name)
{
    QList<QQuickItem*> found;
    const QList<QQuickItem*> children = root ? root->childItems() : QList<QQuickItem*>{};
    for (QQuickItem* child : children) {
        if (child->objectName() == name)
            found.append(child);
        found.append(itemsNamed(child, name));
    }
    return found;
}

// Clicks the middle of `target`, which must be visible and enabled.
inline void click(QQuickWindow* window, QQuickItem* target)
{
    QVERIFY(target && target->isVisible() && target->isEnabled());
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

// Gives `field` the focus and types `text` into it, one key at a time.
inline void type(QQuickWindow* window, QQuickItem* field, const QString& text)
{
    QVERIFY(field);
    field->forceActiveFocus();
    QVERIFY(field->hasActiveFocus());
    for (const QChar letter : text)
        QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(letter), Qt::NoModifier);
}

} // namespace mirvo::test
