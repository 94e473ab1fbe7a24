#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The settings page: the components section and the cache section.
class SettingsTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE static QString checkTitle(bool checking);
    Q_INVOKABLE static QString overallStatus(const QStringList& missingTools, bool ipatoolNeedsUpdate);
    Q_INVOKABLE static QString detailLine(const QStringList& missingTools, bool ipatoolNeedsUpdate);
    // The fixed rows, in order: maps with "name" (as in missingTools and versions), "title" and "detail".
    Q_INVOKABLE static QVariantList components();
    Q_INVOKABLE static QString componentVersion(const QVariantMap& versions, const QString& name);
    Q_INVOKABLE static QString componentStatus(const QString& name, const QStringList& missingTools,
                                               bool ipatoolNeedsUpdate);
    Q_INVOKABLE static QString installTitle(bool installing, const QStringList& missingTools,
                                            bool ipatoolNeedsUpdate);
    // The progress text while tools are installed or inspected; empty otherwise.
    Q_INVOKABLE static QString progressText(bool installing, bool checking, const QString& stage);
    // The cache size in Russian units: "0 Б", "12,3 КБ", "4,5 МБ".
    Q_INVOKABLE static QString cacheSize(qint64 bytes);
};

} // namespace mirvo
