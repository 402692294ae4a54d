// fw_printenv: prints NAME=VALUE for every boot environment variable, or for the
// names given; a name that is not set is reported on stderr and makes the status 1.
#include <cstdio>

#include "BootEnv.h"
#include "RecordFile.h"

int main(int argc, char **argv) {
    sim::recordToolInvocation(argc, argv);
    sim::KeyValues env = sim::loadBootEnv(sim::bootEnvPath());
    int status = 0;
    if (argc < 2) {
        for (const auto &[name, value] : env)
            std::printf("%s=%s\n", name.c_str(), value.c_str());
    }
    for (int i = 1; i < argc; ++i) {
        auto it = env.find(argv[i]);
        if (it == env.end()) {
            std::fprintf(stderr, "fw_printenv: %s: not defined\n", argv[i]);
            status = 1;
        } else {
            std::printf("%s=%s\n", it->first.c_str(), it->second.c_str());
        }
    }
    return std::fflush(stdout) == 0 ? status : 1;
}
