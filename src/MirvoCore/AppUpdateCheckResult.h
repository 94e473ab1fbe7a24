#pragma once

#include "AppUpdateManifest.h"

#include <optional>

namespace mirvo {

// What an update check found: a newer build, with its manifest, or that the running build is current.
class AppUpdateCheckResult {
public:
    static AppUpdateCheckResult available(AppUpdateManifest manifest)
    {
        return AppUpdateCheckResult(std::move(manifest));
    }
    static AppUpdateCheckResult current() { return AppUpdateCheckResult(std::nullopt); }

    bool isAvailable() const { return m_manifest.has_value(); }
    // The newer build's manifest; nothing for a current result.
    const std::optional<AppUpdateManifest>& manifest() const { return m_manifest; }

    bool operator==(const AppUpdateCheckResult&) const = default;

private:
    explicit AppUpdateCheckResult(std::optional<AppUpdateManifest> manifest)
        : m_manifest(std::move(manifest))
    {
    }

    std::optional<AppUpdateManifest> m_manifest;
};

} // namespace mirvo
