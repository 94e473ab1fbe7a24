// Feeds any bytes to the readers of the removed-apps list and of the popular apps. Either may fail with a
// MirvoError; a list longer than the cap is a fault.
#include "FuzzInput.h"
#include "MirvoError.h"
#include "RemovedRussianApps.h"
#include "SystemError.h"

#include <cstdlib>

using namespace mirvo;

namespace {

template <typename Parse> void attempt(Parse parse)
{
    try {
        if (parse().size() > RemovedRussianApps::maximumApps)
            std::abort();
    } catch (const MirvoError&) {
    } catch (const SystemError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    attempt([&] { return RemovedRussianApps::parseCatalog(bytes); });
    attempt([&] { return RemovedRussianApps::parseTopApps(bytes); });
    return 0;
}
