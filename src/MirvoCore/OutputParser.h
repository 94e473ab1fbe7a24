#pragma once

#include "Models.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace mirvo {

// Turns the tools' output into values: errors, the account, progress, versions, and friendly Russian
// messages in place of raw tool errors. Stateless; safe from any thread.
class OutputParser {
public:
    // The text cut at every line break: line feed, carriage return and the other Unicode line and paragraph
    // separators. A carriage return before a line feed leaves an empty piece between them.
    static QStringList lines(const QString& text);
    // The JSON object that runs from the first "{" of the text to its end, if it is one.
    static std::optional<QJsonObject> jsonObject(QStringView text);
    // The objects of the lines that hold one, in line order.
    static QList<QJsonObject> objects(const QString& text);
    static std::optional<QString> error(const QString& text);
    // go-ios reports a failure as an ERROR log line: the "err", else the "msg", of the last such line with
    // one.
    static std::optional<QString> goIOSError(const QString& text);
    static std::optional<QString> account(const QString& text);
    static std::optional<double> progress(const QString& text);
    static std::optional<TransferProgress> transferProgress(const QString& text);
    static std::optional<QString> versionString(const QString& text);
    static bool versionAtLeast(const QList<int>& minimum, const QString& text);
    static QString sanitize(const QString& text);
    static QString friendlyError(const QString& text);
    // friendlyError for a go-ios failure, which first recognises an unplugged iPhone and, on Linux, a usbmuxd
    // that does not answer. The rules read the text without the `ignored` pieces (the IPA's path, whose
    // words must not choose the message); a text that no rule matches is shown whole, sanitized.
    static QString friendlyGoIOSError(const QString& text, const QStringList& ignored = {});
};

} // namespace mirvo
