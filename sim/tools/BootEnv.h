// The boot loader's environment of the simulated device, kept in the state directory.
#ifndef SIM_BOOT_ENV_H
#define SIM_BOOT_ENV_H

#include <string>

#include "KeyValueFile.h"

namespace sim {

// The boot environment file in the device's state directory.
std::string bootEnvPath();

// The environment stored in path, or the factory one before the first change.
// Returns a copy owned by the caller; any thread.
KeyValues loadBootEnv(const std::string &path);
// Applies change to the environment in path and stores it. Throws std::system_error.
// Any thread.
void updateBootEnv(const std::string &path, const std::function<void(KeyValues &)> &change);

}  // namespace sim

#endif
