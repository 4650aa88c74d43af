// The local time of day, for the log's records.
#include "platform/win/internal.h"

namespace PevraNUV::platform {

LocalTime CurrentLocalTime() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

}  // namespace PevraNUV::platform
