#pragma once

#include "BatchInstallProgress.h"
#include "OperationState.h"
#include "OptionalNumber.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The operation progress banner and the transfer progress shared by the banner and the active catalog row.
class ProgressTexts : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE static QString bannerTitle(const mirvo::BatchInstallProgress& batch,
                                           mirvo::OperationState::ProgressStage progressStage,
                                           const QString& operationStage);
    // "Отменить", or "Останавливаем…" once the stop was asked for.
    Q_INVOKABLE static QString stopTitle(const QString& operationStage);
    Q_INVOKABLE static bool stopping(const QString& operationStage);
    // The accessible text of the active stage's progress.
    Q_INVOKABLE static QString accessibleText(mirvo::OperationState::ProgressStage progressStage,
                                              const mirvo::OptionalNumber& fraction);
    // The fraction the active stage shows; unknown for no stage, so the bar turns indeterminate.
    Q_INVOKABLE static mirvo::OptionalNumber
    activeFraction(mirvo::OperationState::ProgressStage progressStage, const mirvo::OptionalNumber& download,
                   const mirvo::OptionalNumber& install);
};

} // namespace mirvo
