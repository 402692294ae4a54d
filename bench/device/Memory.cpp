// 7: memory of idle sessions, from /proc/PID/smaps_rollup: proportional set size (shared
// pages divided among their users) and private resident memory (pages no other process
// maps), for one telnet session alone and per session with eleven; and the CPU time that
// idle sessions use, each program alone.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Driver.h"

namespace vela::bench {
namespace {

using Programs = std::vector<std::unique_ptr<Terminal>>;

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

// Private memory of a process under user-mode emulation, apart: the target program's own
// pages (the address range the emulator reserved for it, which holds the program's file)
// and the emulator's.
struct Emulated {
    double targetKiB = 0;
    double emulatorKiB = 0;
};

Emulated emulatedMemoryOf(pid_t pid, const std::string &program) {
    struct Region {
        unsigned long start, end;
        std::string path;
        double privateKiB = 0;
    };
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    if (!in) throw std::runtime_error("cannot read smaps of " + std::to_string(pid));
    std::vector<Region> regions;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string first, name, path;
        fields >> first;
        const size_t dash = first.find('-');
        if (dash != std::string::npos && first.find(':') == std::string::npos) {
            std::string perms, offset, dev, inode;
            fields >> perms >> offset >> dev >> inode >> path;
            regions.push_back({std::stoul(first.substr(0, dash), nullptr, 16),
                               std::stoul(first.substr(dash + 1), nullptr, 16), path});
        } else if ((first == "Private_Clean:" || first == "Private_Dirty:") && !regions.empty()) {
            double kib = 0;
            fields >> kib;
            regions.back().privateKiB += kib;
        }
    }
    // The reserved range is one run of adjacent mappings around the program's file.
    size_t at = 0;
    while (at < regions.size() && regions[at].path != program)
        ++at;
    if (at == regions.size()) throw std::runtime_error(program + " is not mapped");
    size_t first = at, last = at;
    while (first > 0 && regions[first - 1].end == regions[first].start)
        --first;
    while (last + 1 < regions.size() && regions[last].end == regions[last + 1].start)
        ++last;
    Emulated m;
    for (size_t i = 0; i < regions.size(); ++i)
        (i >= first && i <= last ? m.targetKiB : m.emulatorKiB) += regions[i].privateKiB;
    return m;
}

Emulated averageEmulated(const Programs &programs, const std::string &program) {
    Emulated sum;
    for (const auto &p : programs) {
        const Emulated m = emulatedMemoryOf(p->pid(), program);
        sum.targetKiB += m.targetKiB;
        sum.emulatorKiB += m.emulatorKiB;
    }
    const double n = static_cast<double>(programs.size());
    return {sum.targetKiB / n, sum.emulatorKiB / n};
}

// The PowerPC build under emulation: the same sessions, each figure split in two.
void recordEmulated(const Context &ctx, const Programs &shells, const Programs &raws,
                    const char *targetId, const char *emulatorId, const std::string &sessions) {
    const Emulated shell = averageEmulated(shells, ctx.vela);
    const Emulated raw = averageEmulated(raws, ctx.program("raw_command_echo"));
    const std::string note = "under qemu-user; raw: raw_command_echo, connected and idle";
    Figure target{targetId,      sessions + ": the PowerPC program's own private memory",
                  "KiB",         shell.targetKiB,
                  raw.targetKiB, "report",
                  note,          {},
                  "ppc"};
    Figure emulator{emulatorId,
                    sessions + ": the emulator's private memory beside it",
                    "KiB",
                    shell.emulatorKiB,
                    raw.emulatorKiB,
                    "report",
                    note,
                    {},
                    "ppc"};
    ctx.record(target);
    ctx.record(emulator);
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
    if (ctx.build == "ppc") {
        recordEmulated(ctx, shells, raws, "7a", "7b", "one idle telnet session");
    } else {
        Memory one = averageOf(shells);
        Memory rawOne = averageOf(raws);
        ctx.record({"7a", "one idle telnet session: private resident memory", "KiB", one.privateKiB,
                    rawOne.privateKiB, "value<=1024", rssNote(one, rawOne), idleCpu(shells, raws)});
        ctx.record({"7b", "one idle telnet session: proportional set size (PSS)", "KiB", one.pssKiB,
                    rawOne.pssKiB, "report", "", seeRow("7a")});
    }

    while (shells.size() < kSessions) {
        shells.push_back(startShell(ctx, "telnet"));
        raws.push_back(startRaw(ctx, "raw_command_echo", {}));
    }
    std::this_thread::sleep_for(kSettle);
    if (ctx.build == "ppc") {
        recordEmulated(ctx, shells, raws, "7c", "7d", "11 idle telnet sessions, per session");
        return;
    }
    Memory each = averageOf(shells);
    Memory rawEach = averageOf(raws);
    ctx.record({"7c", "11 idle telnet sessions: private resident memory per session", "KiB",
                each.privateKiB, rawEach.privateKiB, "value<=256", rssNote(each, rawEach),
                idleCpu(shells, raws)});
    ctx.record({"7d", "11 idle telnet sessions: PSS per session", "KiB", each.pssKiB,
                rawEach.pssKiB, "report", "", seeRow("7c")});
}

}  // namespace vela::bench
