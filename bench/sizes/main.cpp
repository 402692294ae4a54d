// vela_bench_sizes: row 9 of the report, the sizes of the device's files in the PowerPC
// build, stripped as they are shipped: the program whole, the libraries of their debugging
// information only (other programs still link them).
//   vela_bench_sizes --results FILE --build DIR --strip TOOL
//   vela_bench_sizes --results FILE --skipped REASON | --failed REASON
// Appends one figure per file to FILE; with --skipped (not measured by design, such as
// without a cross compiler) or --failed (the build failed) one per file saying why. Exits 1
// when a file is missing or cannot be stripped, 2 on a usage error.
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Figure.h"

extern char **environ;

namespace {

using namespace vela::bench;

struct Artifact {
    const char *id;
    const char *path;  // in the build directory
    const char *what;
    bool library;
};

const Artifact kArtifacts[] = {
    {"9a", "shell/vela", "size of vela, stripped", false},
    {"9b", "xcom/libxcom.a", "size of libxcom.a, debugging information stripped", true},
    {"9c", "cle/libcle.a", "size of libcle.a, debugging information stripped", true},
};

// The size of the file at path in bytes, or -1.
long long sizeOf(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Runs strip on input, writing output; true when it succeeded.
bool strip(const std::string &tool, bool library, const std::string &input,
           const std::string &output) {
    std::vector<const char *> argv = {tool.c_str()};
    if (library) argv.push_back("--strip-debug");
    for (const char *arg : {"-o", output.c_str(), input.c_str()})
        argv.push_back(arg);
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, tool.c_str(), nullptr, nullptr, const_cast<char *const *>(argv.data()),
                     environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Figure figureOf(const Artifact &a, const char *target, const std::string &note) {
    Figure f{a.id, a.what, "bytes", kNone, kNone, target, note};
    f.build = "ppc";
    return f;
}

// The figure of one file; its value missing, and the note saying why, when it fails.
Figure measure(const Artifact &a, const std::string &build, const std::string &tool) {
    Figure f = figureOf(a, "report", "");
    const std::string input = build + "/" + a.path;
    const long long unstripped = sizeOf(input);
    char temp[] = "/tmp/vela-bench-strip-XXXXXX";
    const int fd = ::mkstemp(temp);
    if (fd >= 0) ::close(fd);
    if (unstripped < 0) {
        f.note = "failed: no " + input;
    } else if (fd < 0 || !strip(tool, a.library, input, temp)) {
        f.note = "failed: " + tool + " did not strip " + input;
    } else {
        f.shell = static_cast<double>(sizeOf(temp));
        f.note = std::string(a.path) + " of the PowerPC build (" + std::to_string(unstripped) +
                 " bytes unstripped)";
    }
    if (fd >= 0) ::unlink(temp);
    return f;
}

[[noreturn]] void usage() {
    std::fputs(
        "usage: vela_bench_sizes --results FILE --build DIR --strip TOOL\n"
        "       vela_bench_sizes --results FILE --skipped REASON | --failed REASON\n",
        stderr);
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    std::string results, build, tool, skipped, failed;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) usage();
        const std::string option = argv[i], value = argv[++i];
        if (option == "--results")
            results = value;
        else if (option == "--build")
            build = value;
        else if (option == "--strip")
            tool = value;
        else if (option == "--skipped")
            skipped = value;
        else if (option == "--failed")
            failed = value;
        else
            usage();
    }
    const bool measuring = !build.empty() && !tool.empty();
    if (results.empty() || measuring + !skipped.empty() + !failed.empty() != 1) usage();
    bool missing = false;
    try {
        for (const Artifact &a : kArtifacts) {
            Figure f = !skipped.empty()  ? figureOf(a, "skipped", "skipped: " + skipped)
                       : !failed.empty() ? figureOf(a, "report", "failed: " + failed)
                                         : measure(a, build, tool);
            missing = missing || (measuring && std::isnan(f.shell));
            appendFigure(results, f);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vela_bench_sizes: %s\n", e.what());
        return 1;
    }
    return missing ? 1 : 0;
}
