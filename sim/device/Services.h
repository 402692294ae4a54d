// Starting the device's daemons and its command.
#ifndef SIM_DEVICE_SERVICES_H
#define SIM_DEVICE_SERVICES_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "Options.h"

namespace sim::device {

// Starts syslogd and zuz as the options ask, each in its own session with its output
// in the state directory, and returns once each one that is waited for reports ready.
// Runs in the device's init. Throws SetupError.
void startServices(const Options &options);

// Starts command with the device's search path, sharing the init's terminal and
// process group. Runs in the device's init; returns the child's pid. Throws SetupError.
pid_t startCommand(const std::vector<std::string> &command);

// Replaces the calling process by command run with the device's search path; prints
// why it cannot and exits with 127 (not found) or 126. Called in a fresh child only.
[[noreturn]] void execCommand(const std::vector<std::string> &command);

// The shell's way of reporting a wait status: the exit code, or 128 plus the signal.
int exitCodeOf(int waitStatus);

}  // namespace sim::device

#endif
