#pragma once

namespace mirvo {

// Counters of a batch run, shown while it works through the selected apps.
struct BatchInstallProgress {
    int current = 0; // 1-based position of the app being processed
    int total = 0;
    int succeeded = 0;
    int failed = 0;

    bool operator==(const BatchInstallProgress&) const = default;
};

} // namespace mirvo
