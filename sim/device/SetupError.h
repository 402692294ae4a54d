// A failure while building or entering a device.
#ifndef SIM_DEVICE_SETUP_ERROR_H
#define SIM_DEVICE_SETUP_ERROR_H

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace sim::device {

class SetupError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Throws a SetupError naming what failed and the current errno.
[[noreturn]] inline void throwSystemError(const std::string &what) {
    throw SetupError(what + ": " + std::strerror(errno));
}

}  // namespace sim::device

#endif
