// fw_setenv: sets (NAME VALUE...) or deletes (NAME) a boot environment variable.
// Several value words are joined by single spaces.
#include <cstdio>
#include <exception>
#include <string>

#include "BootEnv.h"
#include "RecordFile.h"

int main(int argc, char **argv) {
    sim::recordToolInvocation(argc, argv);
    if (argc < 2) {
        std::fputs("usage: fw_setenv NAME [VALUE...]\n", stderr);
        return 1;
    }
    std::string name = argv[1];
    if (!sim::KeyValueFile::validName(name)) {
        std::fprintf(stderr, "fw_setenv: illegal variable name \"%s\"\n", argv[1]);
        return 1;
    }
    std::string value;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) value += ' ';
        value += argv[i];
    }
    try {
        sim::updateBootEnv(sim::bootEnvPath(), [&](sim::KeyValues &env) {
            if (argc == 2)
                env.erase(name);
            else
                env[name] = value;
        });
    } catch (const std::exception &e) {
        std::fprintf(stderr, "fw_setenv: %s\n", e.what());
        return 1;
    }
    return 0;
}
