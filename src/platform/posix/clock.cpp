// The local time of day, for the log's records.
#include <sys/time.h>
#include <time.h>

#include "platform/platform.h"

namespace PevraNUV::platform {

LocalTime CurrentLocalTime() {
    timeval now;
    ::gettimeofday(&now, nullptr);
    tm parts{};
    time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &parts);
    return {parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace PevraNUV::platform
