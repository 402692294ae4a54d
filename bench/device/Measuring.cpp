#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "Driver.h"

namespace vela::bench {
namespace {

std::string figure(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : "%.2f", value);
    return text;
}

// The pid of the process called name, or -1.
pid_t findProcess(const std::string &name) {
    DIR *proc = ::opendir("/proc");
    if (proc == nullptr) return -1;
    pid_t found = -1;
    while (const dirent *entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/comm");
        std::string comm;
        if (std::getline(in, comm) && comm == name) {
            found = pid;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// True when the process sleeps: a daemon that sleeps has nothing queued for it.
bool sleeping(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const size_t end = stat.rfind(") ");  // the name in parentheses may hold anything
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

}  // namespace

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) return NAN;
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double cpuSeconds(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *tasks = ::opendir(dir.c_str());
    if (tasks == nullptr) return NAN;
    double total = 0;
    while (const dirent *task = ::readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        // The first field of schedstat: nanoseconds on a CPU, user and system.
        std::ifstream in(dir + "/" + task->d_name + "/schedstat");
        double ns = 0;
        if (in >> ns) total += ns / 1e9;
    }
    ::closedir(tasks);
    return total;
}

CpuMeter::CpuMeter(std::vector<std::string> daemons) : names_(std::move(daemons)) {
    for (const std::string &name : names_) {
        const pid_t pid = findProcess(name);
        if (pid < 0) throw std::runtime_error(name + " is not running");
        daemons_.push_back(pid);
    }
}

double CpuMeter::daemonSeconds() const {
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    for (pid_t pid : daemons_)
        while (!sleeping(pid) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    double total = 0;
    for (pid_t pid : daemons_)
        total += cpuSeconds(pid);
    return total;
}

double CpuMeter::seconds(pid_t program) const {
    return daemonSeconds() + cpuSeconds(program);
}

std::string CpuMeter::counted(const char *extra) const {
    std::string text = "prog";
    if (extra != nullptr) text += std::string("+") + extra;
    for (const std::string &name : names_)
        text += "+" + name;
    return text;
}

Rounds summarize(const std::vector<Measure> &runs, bool higherIsBetter) {
    Rounds r{{NAN, NAN}, NAN, NAN};
    std::vector<double> values, cpu;
    for (const Measure &m : runs) {
        values.push_back(m.value);
        if (!std::isnan(m.cpu)) cpu.push_back(m.cpu);
        const bool better = higherIsBetter ? m.value > r.best.value : m.value < r.best.value;
        if (std::isnan(r.best.value) || better) r.best = m;
    }
    r.median = median(values);
    r.cpuMedian = median(cpu);
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

std::string roundsNote(const SideBySide &r, int rounds) {
    return "best of " + std::to_string(rounds) + " rounds (medians: vela " +
           figure(r.shell.median) + ", raw " + figure(r.baseline.median) + ")";
}

void setSides(Figure &f, const SideBySide &r, const char *cpuUnit, const std::string &counted) {
    f.shell = r.shell.best.value;
    f.baseline = r.baseline.best.value;
    f.cpu = {cpuUnit, r.shell.cpuMedian, r.baseline.cpuMedian, counted};
}

}  // namespace vela::bench
