// kbox: the device's configuration tool, reduced to reading one setting.
//   kbox config NAME 0   prints "config NAME 0 VALUE" and a LF
// A name the device does not know prints an error on stderr, nothing on stdout, and
// exits with status 1; any other command line prints the usage and exits with 2.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "DevicePaths.h"
#include "RecordFile.h"
#include "Settings.h"

int main(int argc, char **argv) {
    sim::recordToolInvocation(argc, argv);
    if (argc != 4 || std::strcmp(argv[1], "config") != 0 || std::strcmp(argv[3], "0") != 0) {
        std::fputs("usage: kbox config NAME 0\n", stderr);
        return 2;
    }
    try {
        sim::Settings settings(std::string(sim::paths::kStateDir) + "/" +
                               sim::paths::kSettingsFile);
        auto value = settings.get(argv[2]);
        if (!value) {
            std::fprintf(stderr, "kbox: unknown configuration value %s\n", argv[2]);
            return 1;
        }
        std::printf("config %s 0 %s\n", argv[2], value->c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kbox: %s\n", e.what());
        return 1;
    }
}
