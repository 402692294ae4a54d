// The benchmarks that run inside a simulated device, side by side with their raw
// baselines, and what they share. Everything here is for the driver's main thread; the
// programs returned are the caller's.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Figure.h"
#include "terminal.h"

namespace vela::bench {

using vela::test::Clock;
using vela::test::Terminal;
using namespace std::chrono_literals;

// Seconds between two points of the steady clock.
inline double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

struct Context {
    std::string results;   // the results file, appended to
    std::string programs;  // directory of the raw programs and vela_bench_alloc in the device
    std::string vela;      // the shell's path in the device
    // The build of the shell and the raw programs: "host", or "ppc" when they are the
    // PowerPC build, run under user-mode emulation (only the memory rows then).
    std::string build = "host";
    bool quick = false;  // small counts: checks that everything runs, measures little
    // Rounds of each side-by-side measurement: the shell and its baseline take turns, each
    // round doing a share of the work, so that both meet the same background load.
    int rounds = 20;

    std::string program(const char *name) const { return programs + "/" + name; }
    void record(const Figure &figure) const { appendFigure(results, figure); }
};

// Text that ends the output of a throughput run.
inline constexpr const char *kEndMarker = "bench-end-of-output";
// What the application sends to a session's listener once it has registered it.
inline constexpr const char *kRegisteredNotice = "bench: registered";

// ---- the device (DeviceControl.cpp)
// zuz's rules for every benchmark: bench commands answered with "R: 0" and nothing else,
// and the registration notice.
void writeZuzRules();
// Stores a device setting through the application. Throws std::runtime_error.
void setDeviceSetting(const std::string &name, const std::string &value);
// Starts the shell with session type type on a fresh pty; returns once its command loop
// has answered an empty line with the prompt. Throws std::runtime_error.
std::unique_ptr<Terminal> startShell(const Context &ctx, const std::string &type);
// Starts a raw program on a fresh pty; returns once it said "ready".
std::unique_ptr<Terminal> startRaw(const Context &ctx, const char *name,
                                   const std::vector<std::string> &arguments);
// Throws std::runtime_error saying what did not happen, with the terminal's last output,
// unless ok.
void require(bool ok, const Terminal &terminal, const std::string &what);

// ---- measuring (Measuring.cpp)
// The median; NaN for none.
double median(std::vector<double> values);
// CPU time used so far by every thread of process pid, user and system, in seconds; NaN
// when unreadable.
double cpuSeconds(pid_t pid);

// The CPU time a measurement counts: the measured program's (every thread) and that of the
// device's daemons its work goes through, which serve either side alike while the two
// take turns.
class CpuMeter {
  public:
    // daemons: process names ("zuz", "syslogd"). Throws std::runtime_error when one is not
    // running.
    explicit CpuMeter(std::vector<std::string> daemons = {});
    // Seconds used so far by program and the daemons. First waits (at most a second) until
    // every daemon sleeps: work queued for a daemon during a round is counted in that round.
    double seconds(pid_t program) const;
    // Seconds used so far by the daemons alone, after the same wait.
    double daemonSeconds() const;
    // What is counted: "prog", joined by "+" with the daemons' names, and with extra (such
    // as "kids") after "prog".
    std::string counted(const char *extra = nullptr) const;

  private:
    std::vector<std::string> names_;
    std::vector<pid_t> daemons_;
};

// One run of a measurement: its figure and the CPU time counted per unit of work (in the
// unit its figure reports); NaN when unknown.
struct Measure {
    double value;
    double cpu;
};
// The rounds of one side: the best one, the least disturbed by whatever else the machine
// runs, the median of the figures, and the median CPU time per unit.
struct Rounds {
    Measure best;
    double median;
    double cpuMedian;
};
struct SideBySide {
    Rounds shell;
    Rounds baseline;
};
// higherIsBetter: rates keep their highest round as the best, times their lowest.
Rounds summarize(const std::vector<Measure> &runs, bool higherIsBetter);
// Runs shell and baseline alternately, rounds times each.
SideBySide alternate(int rounds, bool higherIsBetter, const std::function<Measure()> &shell,
                     const std::function<Measure()> &baseline);
// "best of N rounds (medians: vela X, raw Y)".
std::string roundsNote(const SideBySide &r, int rounds);
// Fills the figure's values from the best rounds and its CPU figures from the medians.
void setSides(Figure &figure, const SideBySide &r, const char *cpuUnit, const std::string &counted);

// ---- the benchmarks; each records its figures, throws std::runtime_error on failure
void runCommandRoundTrip(const Context &ctx);   // 1
void runApplicationOutput(const Context &ctx);  // 2
void runLiveLog(const Context &ctx);            // 3
void runPasteImport(const Context &ctx);        // 4
void runAllocations(const Context &ctx);        // 6
void runMemory(const Context &ctx);             // 7
void runStartup(const Context &ctx);            // 8

}  // namespace vela::bench
