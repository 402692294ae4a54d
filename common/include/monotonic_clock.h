// The monotonic clock as std::chrono::steady_clock tells it (CLOCK_MONOTONIC on Linux),
// read here so that the code that ships links no part of the C++ runtime for it.
#pragma once

#include <time.h>

#include <chrono>

namespace vela {

inline std::chrono::steady_clock::time_point monotonic_now() noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::chrono::steady_clock::time_point(std::chrono::seconds(now.tv_sec) +
                                                 std::chrono::nanoseconds(now.tv_nsec));
}

}  // namespace vela
