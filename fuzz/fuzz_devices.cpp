// Feeds any text to the reader of `ios list --details` and to what reads a typed app. Both may only fail
// with a MirvoError; a device listed twice, or one without an ID or a name, is a fault too, as is a store
// ID that is not all digits.
#include "FuzzInput.h"
#include "MirvoError.h"
#include "Models.h"
#include "SystemError.h"
#include "ToolService.h"

#include <QSet>

#include <cstdlib>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

void checkIdentifier(const AppIdentifier& identifier)
{
    if (identifier.value().isEmpty())
        std::abort();
    if (identifier.kind() == AppIdentifier::Kind::StoreID) {
        for (const QChar character : identifier.value()) {
            if (character < u'0' || character > u'9')
                std::abort();
        }
    }
    identifier.arguments();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzz::text(data, size);
    try {
        QSet<QString> ids;
        for (const Device& device : ToolService::parseDevices(text)) {
            if (device.id.isEmpty() || device.name.isEmpty() || ids.contains(device.id))
                std::abort();
            ids.insert(device.id);
        }
    } catch (const MirvoError&) {
    } catch (const SystemError&) {
    }
    for (const QString& host : {u"apps.apple.com"_s, u""_s}) {
        try {
            checkIdentifier(AppIdentifier::parse(text, host));
        } catch (const MirvoError&) {
        } catch (const SystemError&) {
        }
    }
    return 0;
}
