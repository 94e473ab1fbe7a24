#pragma once

#include "Models.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The catalog page's rules: the direct-install action, the batch bar's hint and the row's checkbox.
class CatalogPageTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The App Store ID a search text offers to install directly, in decimal without leading zeros; empty when
    // the trimmed text is not 1 to 18 digits or reads as zero.
    Q_INVOKABLE static QString directInstallID(const QString& searchText);
    // The help text of "Установить по ID"; empty when the action is not offered.
    Q_INVOKABLE static QString directInstallHelp(const QString& searchText);
    // What the batch bar says is missing; empty when nothing is.
    Q_INVOKABLE static QString batchHint(bool signedIn, const mirvo::Device& selectedDevice, bool canDownload,
                                         bool busy);
    Q_INVOKABLE static QString selectAllTitle(bool allFilteredSelected);
    Q_INVOKABLE static QString rowCheckboxHelp(const QString& name, bool selected);
};

} // namespace mirvo
