// Feeds any text to every reader of the tools' output. They are documented to throw nothing; a progress
// outside 0…1 is a fault too, since the progress bars take it as is.
#include "FuzzInput.h"
#include "OutputParser.h"

#include <cstdlib>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzz::text(data, size);

    const QStringList lines = OutputParser::lines(text);
    OutputParser::jsonObject(text);
    OutputParser::objects(text);
    OutputParser::error(text);
    OutputParser::goIOSError(text);
    OutputParser::account(text);
    if (const auto fraction = OutputParser::progress(text); fraction && !(*fraction >= 0 && *fraction <= 1))
        std::abort();
    if (const auto transfer = OutputParser::transferProgress(text)) {
        const double fraction = transfer->fraction();
        if (!(fraction >= 0 && fraction <= 1))
            std::abort();
    }
    OutputParser::versionString(text);
    for (const QList<int>& minimum : {QList<int>{}, QList<int>{2, 3, 1}, QList<int>{1, 0, 69}})
        OutputParser::versionAtLeast(minimum, text);
    OutputParser::sanitize(text);
    OutputParser::friendlyError(text);
    OutputParser::friendlyGoIOSError(text);
    // The IPA's path is left out of the rules: any line of the text may stand for it.
    if (!lines.isEmpty())
        OutputParser::friendlyGoIOSError(text, {lines.first(), u""_s});
    return 0;
}
