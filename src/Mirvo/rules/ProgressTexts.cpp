#include "ProgressTexts.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

using Stage = OperationState::ProgressStage;

QString ProgressTexts::bannerTitle(const BatchInstallProgress& batch, Stage progressStage,
                                   const QString& operationStage)
{
    if (batch.running()) {
        const QString verb = progressStage == Stage::Download  ? u"Скачиваем "_s
                             : progressStage == Stage::Install ? u"Устанавливаем "_s
                                                               : u"Готовим "_s;
        return verb + QString::number(batch.current) + u" из "_s + QString::number(batch.total);
    }
    if (progressStage == Stage::Download)
        return u"Скачиваем приложение"_s;
    if (progressStage == Stage::Install)
        return u"Устанавливаем приложение"_s;
    return operationStage.isEmpty() ? u"Выполняем операцию"_s : operationStage;
}

QString ProgressTexts::stopTitle(const QString& operationStage)
{
    return stopping(operationStage) ? u"Останавливаем…"_s : u"Отменить"_s;
}

bool ProgressTexts::stopping(const QString& operationStage)
{
    return operationStage == u"Останавливаем…"_s;
}

QString ProgressTexts::accessibleText(Stage progressStage, const OptionalNumber& fraction)
{
    switch (progressStage) {
    case Stage::Download:
        if (fraction.known && std::isfinite(fraction.value))
            return u"Загрузка: "_s + QString::number(std::llround(fraction.value * 100)) + u" процентов"_s;
        return u"Загрузка выполняется"_s;
    case Stage::Install:
        return u"Установка выполняется"_s;
    case Stage::None:
        break;
    }
    return {};
}

OptionalNumber ProgressTexts::activeFraction(Stage progressStage, const OptionalNumber& download,
                                             const OptionalNumber& install)
{
    switch (progressStage) {
    case Stage::Download:
        return download;
    case Stage::Install:
        return install;
    case Stage::None:
        break;
    }
    return {};
}

} // namespace mirvo
