// 7: memory of idle sessions, from /proc/PID/smaps_rollup: proportional set size (shared
// pages divided among their users) and private resident memory (pages no other process
// maps), for one telnet session alone and per session with eleven; and the CPU time that
// idle sessions use, each program alone.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "Driver.h"

namespace vela::bench {
namespace {

using Programs = std::vector<std::unique_ptr<PtyProgram>>;

struct Memory {
    double pssKiB = 0;
    double privateKiB = 0;
    double rssKiB = 0;
};

Memory memoryOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    if (!in) throw std::runtime_error("cannot read smaps_rollup of " + std::to_string(pid));
    Memory m;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name;
        double kib = 0;
        fields >> name >> kib;
        if (name == "Pss:") m.pssKiB = kib;
        if (name == "Rss:") m.rssKiB = kib;
        if (name == "Private_Clean:" || name == "Private_Dirty:") m.privateKiB += kib;
    }
    return m;
}

Memory averageOf(const Programs &programs) {
    Memory sum;
    for (const auto &p : programs) {
        Memory m = memoryOf(p->pid());
        sum.pssKiB += m.pssKiB;
        sum.privateKiB += m.privateKiB;
        sum.rssKiB += m.rssKiB;
    }
    const double n = static_cast<double>(programs.size());
    return {sum.pssKiB / n, sum.privateKiB / n, sum.rssKiB / n};
}

// The CPU time each program of either side uses on average while idle, all of them at
// once, over one window.
CpuFigure idleCpu(const Programs &shells, const Programs &raws) {
    constexpr auto kWindow = std::chrono::milliseconds(500);
    auto total = [](const Programs &programs) {
        double seconds = 0;
        for (const auto &p : programs)
            seconds += cpuSeconds(p->pid());
        return seconds;
    };
    const double shell0 = total(shells), raw0 = total(raws);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(kWindow);
    const double window = secondsBetween(t0, Clock::now());
    const double shellUsed = total(shells) - shell0, rawUsed = total(raws) - raw0;
    auto perSecond = [window](double used, const Programs &programs) {
        return used / static_cast<double>(programs.size()) / window * 1e6;
    };
    return {"us/s idle", perSecond(shellUsed, shells), perSecond(rawUsed, raws), "prog"};
}

std::string rssNote(const Memory &shell, const Memory &raw) {
    return "resident " + std::to_string(static_cast<long>(shell.rssKiB)) + " KiB (raw " +
           std::to_string(static_cast<long>(raw.rssKiB)) +
           " KiB); raw: raw_command_echo, connected and idle";
}

}  // namespace

void runMemory(const Context &ctx) {
    constexpr int kSessions = 11;
    // Idle: the start-up's last pages are touched; the clock has nothing to do with it.
    constexpr auto kSettle = std::chrono::milliseconds(300);
    Programs shells, raws;
    shells.push_back(startShell(ctx, "telnet"));
    raws.push_back(startRaw(ctx, "raw_command_echo", {}));
    std::this_thread::sleep_for(kSettle);
    Memory one = averageOf(shells);
    Memory rawOne = averageOf(raws);
    ctx.record({"7a", "one idle telnet session: private resident memory", "KiB", one.privateKiB,
                rawOne.privateKiB, "value<=1024", rssNote(one, rawOne), idleCpu(shells, raws)});
    ctx.record({"7b", "one idle telnet session: proportional set size (PSS)", "KiB", one.pssKiB,
                rawOne.pssKiB, "report", "", seeRow("7a")});

    while (shells.size() < kSessions) {
        shells.push_back(startShell(ctx, "telnet"));
        raws.push_back(startRaw(ctx, "raw_command_echo", {}));
    }
    std::this_thread::sleep_for(kSettle);
    Memory each = averageOf(shells);
    Memory rawEach = averageOf(raws);
    ctx.record({"7c", "11 idle telnet sessions: private resident memory per session", "KiB",
                each.privateKiB, rawEach.privateKiB, "value<=256", rssNote(each, rawEach),
                idleCpu(shells, raws)});
    ctx.record({"7d", "11 idle telnet sessions: PSS per session", "KiB", each.pssKiB,
                rawEach.pssKiB, "report", "", seeRow("7c")});
}

}  // namespace vela::bench
