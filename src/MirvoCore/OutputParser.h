#pragma once

#include "Models.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace mirvo {

// Turns the tools' output into values: errors, the account, progress, versions, and friendly Russian
// messages in place of raw tool errors. Stateless; safe from any thread.
class OutputParser {
public:
    static QList<QJsonObject> objects(const QString& text);
    static std::optional<QString> error(const QString& text);
    static std::optional<QString> account(const QString& text);
    static std::optional<double> progress(const QString& text);
    static std::optional<TransferProgress> transferProgress(const QString& text);
    static std::optional<QString> versionString(const QString& text);
    static bool versionAtLeast(const QList<int>& minimum, const QString& text);
    static QString sanitize(const QString& text);
    static QString friendlyError(const QString& text);

    static std::optional<qint64> bytes(const QString& value, const QString& units);
};

} // namespace mirvo
