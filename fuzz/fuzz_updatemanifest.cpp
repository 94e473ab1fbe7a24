// Feeds any bytes to the update manifest's decoder and judges them against a few running builds. Judging
// may only fail with AppUpdateServiceError::invalidResponse; a newer build offered from a manifest that
// does not decode, or that is not newer, is a fault.
#include "AppUpdateManifest.h"
#include "AppUpdateService.h"
#include "AppUpdateServiceError.h"
#include "FuzzInput.h"
#include "MirvoError.h"
#include "SystemError.h"

#include <cstdlib>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

struct Running {
    QString version;
    qint64 build;
    std::optional<QString> trustedHost;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    const std::optional<AppUpdateManifest> manifest = AppUpdateManifest::decode(bytes);
    if (manifest) {
        manifest->id();
        if (const auto components = AppUpdateService::versionComponents(manifest->version))
            AppUpdateService::compare(*components, {1, 4});
    }

    const Running runs[] = {
        {u"1.0"_s, 1, u"mirvo.app"_s},
        {u"1.4.0"_s, 27, std::nullopt},
        {u"v0.9.2"_s, 0, u"example.com"_s},
    };
    for (const Running& running : runs) {
        try {
            const AppUpdateCheckResult result =
                AppUpdateService::evaluate(bytes, running.version, running.build, running.trustedHost);
            if (result.isAvailable() && !(manifest && *result.manifest() == *manifest))
                std::abort();
        } catch (const AppUpdateServiceError& error) {
            if (error.kind() != AppUpdateServiceError::Kind::InvalidResponse)
                std::abort();
        } catch (const MirvoError&) {
        } catch (const SystemError&) {
        }
    }
    return 0;
}
