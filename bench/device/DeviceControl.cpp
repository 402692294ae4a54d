#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "Driver.h"
#include "RawLink.h"

namespace vela::bench {
namespace {

constexpr const char *kRulesPath = "/opt/sim/zuz-rules";

}  // namespace

void writeZuzRules() {
    const std::string rules = std::string("prefix \"E: bench-cmd\" => reply 0\n") +
                              "prefix \"C: bench-cmd\" => reply 0\n" +
                              "prefix \"R: \" => run; datagram \"" + kRegisteredNotice + "\\n\"\n";
    // zuz rereads the file when it changes: replace it whole.
    const std::string temp = std::string(kRulesPath) + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || !raw::writeAll(fd, rules.data(), rules.size()) || ::close(fd) != 0 ||
        ::rename(temp.c_str(), kRulesPath) != 0)
        throw std::runtime_error(std::string("cannot write zuz's rules: ") + std::strerror(errno));
}

void setDeviceSetting(const std::string &name, const std::string &value) {
    int app = raw::connectApplication();
    if (app < 0) throw std::runtime_error("the application does not answer");
    raw::LineReader reader(app);
    const std::string message = "E: execwithoutecho systemsetting " + name + " " + value + "\n";
    int code = raw::exchange(app, reader, message.c_str());
    ::close(app);
    if (code != 0) throw std::runtime_error("the application did not store the setting " + name);
}

std::unique_ptr<PtyProgram> startShell(const Context &ctx, const std::string &type) {
    auto shell = std::make_unique<PtyProgram>(std::vector<std::string>{ctx.vela, "-t", type});
    // With the line end "eol False" the editor ignores a LF, which is what an Enter typed
    // while the terminal is still canonical becomes.
    shell->waitNonCanonical();
    shell->typeShort("\r");
    shell->waitFor("-> ");
    return shell;
}

std::unique_ptr<PtyProgram> startRaw(const Context &ctx, const char *name,
                                     const std::vector<std::string> &arguments) {
    std::vector<std::string> argv = {ctx.program(name)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto program = std::make_unique<PtyProgram>(argv);
    program->waitFor("ready");
    return program;
}

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) return NAN;
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : "%.2f", value);
    return text;
}

}  // namespace

Rounds summarize(const std::vector<Measure> &runs, bool higherIsBetter) {
    Rounds r{{NAN, NAN}, NAN};
    std::vector<double> values;
    for (const Measure &m : runs) {
        values.push_back(m.value);
        const bool better = higherIsBetter ? m.value > r.best.value : m.value < r.best.value;
        if (std::isnan(r.best.value) || better) r.best = m;
    }
    r.median = median(values);
    return r;
}

SideBySide alternate(int rounds, bool higherIsBetter, const std::function<Measure()> &shell,
                     const std::function<Measure()> &baseline) {
    std::vector<Measure> shellRuns, baselineRuns;
    for (int i = 0; i < std::max(rounds, 1); ++i) {
        shellRuns.push_back(shell());
        baselineRuns.push_back(baseline());
    }
    return {summarize(shellRuns, higherIsBetter), summarize(baselineRuns, higherIsBetter)};
}

double cpuSeconds(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *tasks = ::opendir(dir.c_str());
    if (tasks == nullptr) return NAN;
    double total = 0;
    while (const dirent *task = ::readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        // The first field of schedstat: nanoseconds on a CPU.
        std::ifstream in(dir + "/" + task->d_name + "/schedstat");
        double ns = 0;
        if (in >> ns) total += ns / 1e9;
    }
    ::closedir(tasks);
    return total;
}

std::string roundsNote(const SideBySide &r, int rounds, const char *unit) {
    std::string note = "best of " + std::to_string(rounds) + " rounds (medians: vela " +
                       figure(r.shell.median) + ", raw " + figure(r.baseline.median) + ")";
    if (!std::isnan(r.shell.best.cpuMicros) && !std::isnan(r.baseline.best.cpuMicros))
        note += std::string("; CPU per ") + unit + ": vela " + figure(r.shell.best.cpuMicros) +
                " us, raw " + figure(r.baseline.best.cpuMicros) + " us";
    return note;
}

}  // namespace vela::bench
