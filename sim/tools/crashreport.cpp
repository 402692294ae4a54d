// crashreport: switches crash reporting on ("enable") or off ("disable").
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "DevicePaths.h"
#include "RecordFile.h"
#include "unique_fd.h"

int main(int argc, char **argv) {
    sim::recordToolInvocation(argc, argv);
    if (argc != 2 ||
        (std::strcmp(argv[1], "enable") != 0 && std::strcmp(argv[1], "disable") != 0)) {
        std::fputs("usage: crashreport enable|disable\n", stderr);
        return 1;
    }
    std::string state = std::string(argv[1]) + "d\n";
    std::string path = std::string(sim::paths::kStateDir) + "/" + sim::paths::kCrashReportFile;
    vela::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd ||
        ::write(fd.get(), state.data(), state.size()) != static_cast<ssize_t>(state.size())) {
        std::perror("crashreport");
        return 1;
    }
    return 0;
}
