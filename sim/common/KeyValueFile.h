// A small NAME=VALUE store in one file, shared by several processes of the device.
#ifndef SIM_KEY_VALUE_FILE_H
#define SIM_KEY_VALUE_FILE_H

#include <functional>
#include <map>
#include <string>

namespace sim {

using KeyValues = std::map<std::string, std::string>;

// One line per entry: escaped name, "=", escaped value. Readers see either the old or
// the new file (updates write a temporary file and rename it); read-modify-write
// cycles exclude each other through an exclusive lock on PATH.lock, across processes
// and threads alike.
class KeyValueFile {
  public:
    explicit KeyValueFile(std::string path) : path_(std::move(path)) {}

    // The stored entries; empty when the file does not exist. Any thread.
    KeyValues load() const;
    // Applies change to the stored entries and stores the result. Any thread.
    // Throws std::system_error when the file cannot be written.
    void update(const std::function<void(KeyValues &)> &change) const;

    // A name is usable when it is not empty and has no '=', blank or control byte.
    static bool validName(const std::string &name);

  private:
    std::string path_;
};

}  // namespace sim

#endif
