#include "ContinuousClock.h"

#include <ctime>

#ifdef __APPLE__
#include <mach/mach_time.h>
#endif

namespace mirvo {

double continuousClockSeconds()
{
#ifdef __APPLE__
    static const double nanosecondsPerTick = [] {
        mach_timebase_info_data_t info{};
        mach_timebase_info(&info);
        return double(info.numer) / double(info.denom);
    }();
    return double(mach_continuous_time()) * nanosecondsPerTick / 1e9;
#else
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
#endif
}

} // namespace mirvo
