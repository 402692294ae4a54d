// Entering the Linux namespaces of a device.
#ifndef SIM_DEVICE_NAMESPACES_H
#define SIM_DEVICE_NAMESPACES_H

#include <sys/types.h>

namespace sim::device {

// Moves the calling (single-threaded) process into new mount and network namespaces
// and makes its next child the init of a new pid namespace; as a user other than root
// first into a new user namespace in which that user is root. Throws SetupError.
void enterNewNamespaces();

// Moves the calling (single-threaded) process into the namespaces of process pid (a
// device's init); its next child is inside the device's pid namespace. Throws
// SetupError.
void joinNamespaces(pid_t pid);

}  // namespace sim::device

#endif
