#include "CommandResult.h"

#include "MirvoError.h"
#include "OutputParser.h"

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

QString CommandResult::checked() const
{
    // ipatool reports failures as a JSON "error" line, sometimes while still exiting with 0.
    if (const std::optional<QString> error = OutputParser::error(output))
        throw MirvoError::commandFailed(OutputParser::friendlyError(*error));
    if (status == 0)
        return output;
    const QString text =
        output.isEmpty() ? u"Команда завершилась с кодом "_s + QString::number(status) + u"."_s : output;
    throw MirvoError::commandFailed(OutputParser::friendlyError(text));
}

} // namespace mirvo
