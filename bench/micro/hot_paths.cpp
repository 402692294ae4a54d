// vela_bench_hot: the shell's per-line hot paths under Google Benchmark, each figure in
// nanoseconds per line (or per call), also appended to a results file:
//   socket_read_line over 1 KB and over 32 KB of held 16-byte lines: a reader that moved
//     the rest of its buffer after every line would pay for the held bytes on each line;
//   shell_io_printf + shell_io_flush of one 50-byte line, without and with CR insertion;
//   tokenizeString of a typical local command;
//   format_log_line without filters, with 10 show and 10 cull filters, and with those and
//     a shortened layout ("log format time level");
//   cle_get_command_line reading pasted lines from a pty, per byte.
// Beside each figure, the CPU time of the benchmark's thread per line (or call, or byte).
// Usage: vela_bench_hot --results FILE [Google Benchmark options]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Figure.h"
#include "RawLink.h"
#include "cle.h"
#include "command_parsing.h"
#include "libxcom.h"
#include "log_monitor.h"
#include "session.h"
#include "shell_io.h"

namespace {

using namespace vela::bench;

// The shell's objects as a session holds them; the filters are set through commands.
Session &session() {
    static Session *the_session = [] {
        static Session s;
        s.output.create_mutex();
        return &s;
    }();
    return *the_session;
}
LoopState g_loop;

using Handler = void (*)(CommandContext &, int, char **);
void run(Handler handler, int argc, const char **argv) {
    CommandContext context{session(), g_loop};
    handler(context, argc, const_cast<char **>(argv));
}

constexpr size_t kHeldLine = 16;
constexpr size_t kPastedLine = 99;
constexpr size_t kPastedLines = 30;

void BM_socket_read_line(benchmark::State &state) {
    const size_t held = static_cast<size_t>(state.range(0));
    const size_t lines = held / kHeldLine;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    std::string chunk;
    for (size_t i = 0; i < lines; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "line %010zu\n", i);
        chunk += line;
    }
    static char buffer[XCOM_READ_BUFFER_SIZE], line[XCOM_LINE_BUFFER_SIZE];
    int buflen = 0;
    for (auto _ : state) {
        // One write puts every line in the socket; the first read takes them all in.
        raw::writeAll(fds[1], chunk.data(), chunk.size());
        for (size_t i = 0; i < lines; ++i) {
            if (socket_read_line(fds[0], buffer, &buflen, line, 0) != kHeldLine - 1) {
                state.SkipWithError("socket_read_line");
                break;
            }
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines));
    close(fds[0]);
    close(fds[1]);
}
BENCHMARK(BM_socket_read_line)->Arg(1024)->Arg(32768)->UseRealTime();

void BM_shell_io_flush(benchmark::State &state) {
    ShellIOT *shio = shell_io_create();
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    shell_io_bind_fd(shio, null);
    if (state.range(0) != 0) shell_io_add_cr(shio);
    const char *line = "event 0000001 of 0100000: call status changed ok";  // 49 + LF
    for (auto _ : state) {
        shell_io_printf(shio, "%s\n", line);
        shell_io_flush(shio);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    shell_io_destroy(shio);
    close(null);
}
BENCHMARK(BM_shell_io_flush)->Arg(0)->Arg(1)->UseRealTime();

void BM_tokenizeString(benchmark::State &state) {
    const char text[] = "show add \"video call\" camera: \"a\\tb\" network: -level=3\n";
    char line[sizeof text];
    char *argv[MAX_ARGS];
    for (auto _ : state) {
        std::memcpy(line, text, sizeof text);
        int argc = 0;
        benchmark::DoNotOptimize(tokenizeString(line, &argc, argv));
        benchmark::DoNotOptimize(argc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_tokenizeString)->UseRealTime();

void setFilters(bool filters, bool layout) {
    {
        OutputGuard guard(session().output);
        session().monitor.clear_filters(guard);
    }
    if (filters) {
        const char *show[] = {"show",    "add",      "sip:",  "h323:", "video:", "audio:",
                              "camera:", "network:", "dhcp:", "ntp:",  "web:",   "zuz:"};
        const char *cull[] = {"cull",        "add",   "keepalive", "heartbeat",
                              "debug-noise", "poll:", "stats:",    "snmp:",
                              "upnp:",       "mdns:", "lldp:",     "watchdog"};
        run(log_show_cmd, 12, show);
        run(log_cull_cmd, 12, cull);
    }
    const char *all[] = {"format", "date", "time", "level"};
    const char *some[] = {"format", "time", "level"};
    run(log_format_cmd, layout ? 3 : 4, layout ? some : all);
}

void BM_format_log_line(benchmark::State &state) {
    setFilters(state.range(0) >= 1, state.range(0) == 2);
    const char *line =
        "2026-12-05 19:53:21 info zuz: call status 0000042 changed on /dev/pts/3 abcdefghijkl";
    char out[1025];
    for (auto _ : state) {
        // The monitor holds the output lock around each line, as here.
        OutputGuard guard(session().output);
        benchmark::DoNotOptimize(session().monitor.format_line(guard, line, out, sizeof out));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    setFilters(false, false);
}
BENCHMARK(BM_format_log_line)->Arg(0)->Arg(1)->Arg(2)->UseRealTime();

// The editor reading pasted lines from a pty, with the shell's output lock and typing
// report, the echo drained by a thread: per pasted byte. Each round pastes 30 lines at
// once, so the pty's wake-up latency is shared by 3000 bytes.
void BM_cle_get_command_line(benchmark::State &state) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        state.SkipWithError("no pty");
        return;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int savedIn = dup(0), savedOut = dup(1);
    std::fflush(stdout);
    dup2(slave, 0);
    dup2(slave, 1);
    register_editor_callbacks(session().output);
    cle_init(0);
    std::thread echo([master] {
        char buffer[65536];
        while (read(master, buffer, sizeof buffer) > 0) {
        }
    });
    // A burst that fits the terminal's input queue, as a paste arrives.
    std::string burst;
    for (size_t n = 0; n < kPastedLines; ++n) {
        for (size_t i = 0; i < kPastedLine; ++i)
            burst += static_cast<char>('a' + (n + i) % 26);
        burst += '\r';
    }
    char buffer[512];
    for (auto _ : state) {
        raw::writeAll(master, burst.data(), burst.size());
        for (size_t n = 0; n < kPastedLines; ++n) {
            if (cle_get_command_line(const_cast<char *>(""), buffer, 511) != 0) {
                state.SkipWithError("cle_get_command_line");
                break;
            }
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * burst.size()));
    cle_cleanup();
    std::fflush(stdout);
    dup2(savedIn, 0);
    dup2(savedOut, 1);
    close(savedIn);
    close(savedOut);
    close(slave);  // the echo thread's read ends with the last slave descriptor
    echo.join();
    close(master);
}
BENCHMARK(BM_cle_get_command_line)->UseRealTime();

struct Row {
    const char *id;
    const char *what;
    const char *unit;
};

const std::map<std::string, Row> kRows = {
    {"BM_socket_read_line/1024/real_time",
     {"5a", "hot path: socket_read_line, 1 KB of 16-byte lines held", "ns/line"}},
    {"BM_socket_read_line/32768/real_time",
     {"5b", "hot path: socket_read_line, 32 KB held (baseline column: 1 KB held)", "ns/line"}},
    {"BM_shell_io_flush/0/real_time",
     {"5c", "hot path: shell_io_printf + shell_io_flush, 50-byte line", "ns/line"}},
    {"BM_shell_io_flush/1/real_time",
     {"5d", "hot path: shell_io_printf + shell_io_flush, CR inserted", "ns/line"}},
    {"BM_tokenizeString/real_time", {"5e", "hot path: tokenizeString, 7 arguments", "ns/call"}},
    {"BM_format_log_line/0/real_time", {"5f", "hot path: format_log_line, no filters", "ns/line"}},
    {"BM_format_log_line/1/real_time",
     {"5g", "hot path: format_log_line, 10 show and 10 cull filters", "ns/line"}},
    {"BM_format_log_line/2/real_time",
     {"5h", "hot path: format_log_line, filters and layout time level", "ns/line"}},
    {"BM_cle_get_command_line/real_time",
     {"5i", "hot path: line editor reading pasted 100-byte lines from a pty", "ns/byte"}},
};

// Prints as the console reporter does and keeps each figure for the results file.
class FigureReporter : public benchmark::ConsoleReporter {
  public:
    explicit FigureReporter(std::string results) : results_(std::move(results)) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            auto row = kRows.find(run.benchmark_name());
            auto rate = run.counters.find("items_per_second");
            if (run.error_occurred || row == kRows.end() || rate == run.counters.end() ||
                rate->second.value <= 0)
                continue;
            // Items are counted against the real time; the CPU time is the thread's.
            const double items = rate->second.value * run.real_accumulated_time;
            nsPerItem_[row->second.id] = {1e9 / rate->second.value,
                                          run.cpu_accumulated_time * 1e9 / items};
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto &[name, row] : kRows) {
            Figure f{row.id, row.what, row.unit, kNone, kNone, "report", ""};
            f.cpu = {row.unit, kNone, kNone, "thread"};
            if (auto it = nsPerItem_.find(row.id); it != nsPerItem_.end()) {
                f.shell = it->second.real;
                f.cpu.shell = it->second.cpu;
            }
            if (std::string(row.id) == "5b") {
                // Must not grow with the held bytes; a little noise is allowed.
                if (auto it = nsPerItem_.find("5a"); it != nsPerItem_.end()) {
                    f.baseline = it->second.real;
                    f.cpu.baseline = it->second.cpu;
                }
                f.target = "ratio<=1.2";
            }
            if (std::isnan(f.shell)) f.note = "failed or not run";
            appendFigure(results_, f);
        }
    }

  private:
    struct PerItem {
        double real;  // nanoseconds of real time
        double cpu;   // nanoseconds of the thread's CPU time
    };
    std::string results_;
    std::map<std::string, PerItem> nsPerItem_;  // by row id
};

}  // namespace

int main(int argc, char **argv) {
    std::string results;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--results") == 0 && i + 1 < argc) {
            results = argv[++i];
            continue;
        }
        args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (results.empty() || benchmark::ReportUnrecognizedArguments(count, args.data())) {
        std::fputs("usage: vela_bench_hot --results FILE [benchmark options]\n", stderr);
        return 2;
    }
    FigureReporter reporter(results);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
