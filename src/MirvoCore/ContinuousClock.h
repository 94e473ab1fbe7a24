#pragma once

namespace mirvo {

// Seconds on a clock that keeps counting while the computer sleeps.
double continuousClockSeconds();

} // namespace mirvo
