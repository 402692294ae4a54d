#include "BootEnv.h"

#include <sys/stat.h>

#include "DevicePaths.h"

namespace sim {

namespace {

// What the boot loader holds when the device leaves the factory.
const KeyValues &factoryEnv() {
    static const KeyValues kFactory = {
        {"baudrate", "115200"},
        {"bootcmd", "run flash_boot"},
        {"bootdelay", "3"},
        {"ethaddr", "00:19:7b:00:00:01"},
    };
    return kFactory;
}

bool stored(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string bootEnvPath() {
    return std::string(paths::kStateDir) + "/" + paths::kBootEnvFile;
}

KeyValues loadBootEnv(const std::string &path) {
    return stored(path) ? KeyValueFile(path).load() : factoryEnv();
}

void updateBootEnv(const std::string &path, const std::function<void(KeyValues &)> &change) {
    KeyValueFile(path).update([&](KeyValues &values) {
        // The first change starts from the factory environment.
        if (values.empty() && !stored(path)) values = factoryEnv();
        change(values);
    });
}

}  // namespace sim
