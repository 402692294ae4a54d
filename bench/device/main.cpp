// vela_bench_device: the benchmarks that need a simulated device, run inside one.
//   vela_bench_device --results FILE --programs DIR [--vela PATH] [--build ppc] [--quick]
//                     [--rounds N] [--only 1,2,...]
// With --build ppc the shell and the raw programs are the PowerPC build, run under
// user-mode emulation: only the memory rows (7) apply.
// Appends its figures to FILE; a benchmark that fails is recorded as failed and the others
// still run. DIR holds the raw programs and vela_bench_alloc.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <set>
#include <string>

#include "Driver.h"

extern char **environ;

namespace vela::bench {

void runAllocations(const Context &ctx) {
    // Each case in a process of its own: the counter counts the whole process, and the
    // shell's reader threads, once started, never end.
    const char *const cases[] = {"line-reader",      "flush",       "flush-cr", "event-reader",
                                 "event-reader-api", "log-monitor", "editor"};
    for (const char *name : cases) {
        const std::string program = ctx.program("vela_bench_alloc");
        std::vector<const char *> argv = {program.c_str(), "--case", name, "--results",
                                          ctx.results.c_str()};
        if (ctx.quick) argv.push_back("--quick");
        argv.push_back(nullptr);
        pid_t pid;
        int status = 0;
        int rc = posix_spawn(&pid, program.c_str(), nullptr, nullptr,
                             const_cast<char *const *>(argv.data()), environ);
        if (rc == 0) {
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ctx.record({"6", std::string("allocations: ") + name, "allocs/line", kNone, kNone,
                        "value==0", "failed: the counting program did not finish"});
    }
}

}  // namespace vela::bench

namespace {

using namespace vela::bench;

struct Benchmark {
    int number;
    const char *name;
    void (*run)(const Context &);
};

const Benchmark kBenchmarks[] = {
    {1, "command round trip", runCommandRoundTrip},
    {2, "application output", runApplicationOutput},
    {3, "live log", runLiveLog},
    {4, "paste import", runPasteImport},
    {6, "allocations", runAllocations},
    {7, "memory", runMemory},
    {8, "start-up", runStartup},
};

[[noreturn]] void usage() {
    std::fputs(
        "usage: vela_bench_device --results FILE --programs DIR [--vela PATH] [--build ppc]\n"
        "                         [--quick] [--rounds N] [--only 1,2,...]\n",
        stderr);
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    Context ctx;
    ctx.vela = "/opt/halvern/bin/vela";
    std::set<int> only;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (arg == "--results") {
            ctx.results = value();
        } else if (arg == "--programs") {
            ctx.programs = value();
        } else if (arg == "--vela") {
            ctx.vela = value();
        } else if (arg == "--build") {
            ctx.build = value();
        } else if (arg == "--quick") {
            ctx.quick = true;
        } else if (arg == "--rounds") {
            ctx.rounds = std::atoi(value().c_str());
            if (ctx.rounds < 1 || ctx.rounds > 100) usage();
        } else if (arg == "--only") {
            std::string list = value();
            for (const char *p = list.c_str(); *p != '\0'; ++p)
                if (*p >= '1' && *p <= '9') only.insert(*p - '0');
        } else {
            usage();
        }
    }
    if (ctx.results.empty() || ctx.programs.empty()) usage();

    int failed = 0;
    try {
        writeZuzRules();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vela_bench_device: %s\n", e.what());
        return 1;
    }
    for (const Benchmark &b : kBenchmarks) {
        if (!only.empty() && only.count(b.number) == 0) continue;
        std::fprintf(stderr, "  %d %s ...\n", b.number, b.name);
        try {
            b.run(ctx);
        } catch (const std::exception &e) {
            ++failed;
            std::fprintf(stderr, "  %d %s failed: %s\n", b.number, b.name, e.what());
            ctx.record({std::to_string(b.number), b.name, "-", kNone, kNone, "report",
                        std::string("failed: ") + e.what()});
        }
    }
    return failed == 0 ? 0 : 1;
}
