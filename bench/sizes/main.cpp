// vela_bench_sizes: row 9 of the report, the sizes of the device's files in the PowerPC
// builds, stripped as they are shipped: the program whole, the libraries of their debugging
// information only (other programs still link them). The program's figures also give its
// largest parts, from the map of its link (shell/vela.map): what each object puts into the
// file, what the linker makes, and the rest of the file (headers and alignment padding).
//   vela_bench_sizes --results FILE --build DIR --minsize-build DIR --strip TOOL
//   vela_bench_sizes --results FILE --skipped REASON | --failed REASON
// --build is the RelWithDebInfo build, --minsize-build the MinSizeRel one. Appends one
// figure per file to FILE; with --skipped (not measured by design, such as without a cross
// compiler) or --failed (a build failed) one per file saying why. Exits 1 when a file is
// missing or cannot be stripped, 2 on a usage error.
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "Figure.h"
#include "LinkMap.h"

extern char **environ;

namespace {

using namespace vela::bench;

// Parts of the program listed with its size.
constexpr size_t kLargestParts = 10;

struct Artifact {
    const char *id;
    bool minsize;      // in the MinSizeRel build, else the RelWithDebInfo one
    const char *path;  // in the build directory
    const char *what;
    bool library;
    const char *target;
};

const Artifact kArtifacts[] = {
    {"9a", false, "shell/vela", "size of vela (RelWithDebInfo), stripped", false, "report"},
    {"9b", false, "xcom/libxcom.a", "size of libxcom.a, debugging information stripped", true,
     "report"},
    {"9c", false, "cle/libcle.a", "size of libcle.a, debugging information stripped", true,
     "report"},
    // The build that ships. Most of the C++ runtime linked in would take it over the limit.
    {"9d", true, "shell/vela", "size of vela (MinSizeRel), stripped", false, "value<=160000"},
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

// The largest parts of the program: those of the map of its link, and the rest of its
// stripped file (size bytes); none without a readable map.
std::vector<Part> largestParts(const std::string &program, double size) {
    std::ifstream map(program + ".map");
    std::vector<Part> parts = partsOfLinkMap(map);
    if (parts.empty()) return parts;
    double listed = 0;
    for (const Part &p : parts)
        listed += p.value;
    parts.push_back({"(headers, section names and alignment padding)", size - listed});
    std::stable_sort(parts.begin(), parts.end(),
                     [](const Part &a, const Part &b) { return a.value > b.value; });
    if (parts.size() > kLargestParts) parts.resize(kLargestParts);
    return parts;
}

// The figure of one file; its value missing, and the note saying why, when it fails.
Figure measure(const Artifact &a, const std::string &build, const std::string &tool) {
    Figure f = figureOf(a, a.target, "");
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
        if (!a.library) f.parts = largestParts(input, f.shell);
    }
    if (fd >= 0) ::unlink(temp);
    return f;
}

[[noreturn]] void usage() {
    std::fputs(
        "usage: vela_bench_sizes --results FILE --build DIR --minsize-build DIR --strip TOOL\n"
        "       vela_bench_sizes --results FILE --skipped REASON | --failed REASON\n",
        stderr);
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    std::string results, build, minsize, tool, skipped, failed;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) usage();
        const std::string option = argv[i], value = argv[++i];
        if (option == "--results")
            results = value;
        else if (option == "--build")
            build = value;
        else if (option == "--minsize-build")
            minsize = value;
        else if (option == "--strip")
            tool = value;
        else if (option == "--skipped")
            skipped = value;
        else if (option == "--failed")
            failed = value;
        else
            usage();
    }
    const bool measuring = !build.empty() && !minsize.empty() && !tool.empty();
    if (results.empty() || measuring + !skipped.empty() + !failed.empty() != 1) usage();
    bool missing = false;
    try {
        for (const Artifact &a : kArtifacts) {
            Figure f = !skipped.empty()  ? figureOf(a, "skipped", "skipped: " + skipped)
                       : !failed.empty() ? figureOf(a, a.target, "failed: " + failed)
                                         : measure(a, a.minsize ? minsize : build, tool);
            missing = missing || (measuring && std::isnan(f.shell));
            appendFigure(results, f);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vela_bench_sizes: %s\n", e.what());
        return 1;
    }
    return missing ? 1 : 0;
}
