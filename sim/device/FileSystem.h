// The device's view of the file system, built by its init.
#ifndef SIM_DEVICE_FILE_SYSTEM_H
#define SIM_DEVICE_FILE_SYSTEM_H

#include <string>
#include <vector>

#include "Options.h"
#include "unique_fd.h"

namespace sim::device {

// A host file or directory to appear at a device path.
struct BindSource {
    vela::UniqueFd handle;  // O_PATH, opened in the device's mount namespace
    std::string devicePath;
    bool directory = false;
};

// Every host object the device shows, opened before the private /tmp, /opt and /dev
// hide them (a bind source must belong to the mount namespace doing the bind).
struct HostObjects {
    std::vector<BindSource> devices;   // /dev entries kept from the host
    std::vector<BindSource> programs;  // stand-ins and installed files
    BindSource state;                  // handle empty without --state
};

// The stand-in programs and where the device keeps them.
struct StandIn {
    const char *name;
    const char *deviceDir;
};
const std::vector<StandIn> &standIns();

// Opens all host objects; the caller has entered the device's mount namespace.
// Throws SetupError.
HostObjects openHostObjects(const Options &options, const std::string &simBin);

// Builds the device's file system from the host objects: private /proc, /tmp, /opt
// and /dev, programs, state directory, ready marker and listener directories. Runs
// in the device's init. Throws SetupError.
void buildFileSystem(const HostObjects &host, const Options &options);

// Brings the device's loopback interface up and sets its network limits. Throws
// SetupError.
void setUpNetwork();

}  // namespace sim::device

#endif
