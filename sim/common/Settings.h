// The device settings: what kbox reads and "execwithoutecho systemsetting" writes.
#ifndef SIM_SETTINGS_H
#define SIM_SETTINGS_H

#include <optional>
#include <string>

#include "KeyValueFile.h"

namespace sim {

class Settings {
  public:
    // Settings stored in PATH, falling back to the device defaults.
    explicit Settings(std::string path) : file_(std::move(path)) {}

    // The stored value, else the default; nullopt for a name the device does not know.
    // Any thread.
    std::optional<std::string> get(const std::string &name) const;
    // Stores a value (empty is a value). Throws std::invalid_argument for an unusable
    // name, std::system_error when the store cannot be written. Any thread.
    void set(const std::string &name, const std::string &value) const;
    // Every known name with its value, defaults included. Any thread.
    KeyValues all() const;

    static const KeyValues &defaults();

  private:
    KeyValueFile file_;
};

}  // namespace sim

#endif
