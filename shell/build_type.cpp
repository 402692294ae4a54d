// The build type of this binary, set by the build configuration.
#include "system_commands.h"

#ifndef VELA_BUILD_TYPE
#define VELA_BUILD_TYPE "Release"
#endif

const char *const kBuildType = VELA_BUILD_TYPE;
