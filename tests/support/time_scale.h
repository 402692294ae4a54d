// How much longer tests wait for what they expect: the whole number in the environment
// variable VELA_TEST_TIME_SCALE (1 when unset), which scripts/lib.sh sets for a build
// that runs slower (under emulation). Only waits scale; what is awaited stays the same.
#ifndef VELA_TEST_TIME_SCALE_H
#define VELA_TEST_TIME_SCALE_H

#include <chrono>
#include <cstdlib>

namespace vela::test {

inline std::chrono::milliseconds scaled(std::chrono::milliseconds timeout) {
    static const int scale = [] {
        const char *text = std::getenv("VELA_TEST_TIME_SCALE");
        int value = text != nullptr ? std::atoi(text) : 1;
        return value > 0 ? value : 1;
    }();
    return timeout * scale;
}

}  // namespace vela::test

#endif
