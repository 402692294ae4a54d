// Soak: eleven sessions through the device's telnet daemons for a bounded time (seven
// telnet sessions on port 23 and three api sessions on port 24, then an eleventh that the
// session limit of ten refuses by design), each typing random commands and raising
// application events while a flood of log lines reaches every telnet session's live log. Every
// command must be answered in time, in its own session only; no session may end on its
// own, every shell must end on "exit", and no shell's resident memory may grow after its
// warm-up. The client addresses (IPv4 and IPv6) are recorded and cleared at the end.
//
//   vela_soak [minutes]     (scripts/soak; 2 minutes by default; a short run is a test)
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "ShellOnDevice.h"

using namespace vela::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTelnetSessions = 7, kSessions = kTelnetSessions + 3, kKinds = 6;
// Resident memory may grow by this much after the warm-up (pages touched late).
constexpr long kRssSlackKib = 256;
#ifdef VELA_MEMORY_REPORT_ONLY
constexpr bool kJudgeMemory = false;
#else
constexpr bool kJudgeMemory = true;
#endif

std::atomic<long> g_commands{0}, g_events{0}, g_logLines{0}, g_errors{0};

// Errors are printed as they happen; the workers share stderr. Returns ok.
bool check(bool ok, const std::string &what) {
    static std::mutex print;
    std::lock_guard<std::mutex> lock(print);
    if (!ok) std::fprintf(stderr, "soak: error: %s\n", what.c_str()), ++g_errors;
    return ok;
}

// One session's client and the commands it types.
struct Worker {
    // Types one command of that kind and waits for its answer; false (after an error)
    // on a timeout or a closed connection.
    bool step(int kind) {
        const std::string tag = mark.substr(1) + std::to_string(commands++);
        const std::string n = std::to_string(1 + random() % 40);
        const std::pair<std::string, std::string> kinds[kKinds] = {
            {"echo " + tag, "\n" + tag + "\r\n"},  // output, not the echo of the line
            {"events " + n, "event " + n + " of " + n + ":"},
            {"status", "sessions: "},
            {"nosuch" + tag, "error: command not found"},
            {api ? "version" : "test " + tag + " b", api ? "libxcom 0.0.1" : "argv[1]=" + tag},
            {api ? "help" : "history", api ? "commands of the application:" : "history success"},
        };
        const auto &[line, answer] = kinds[kind];
        ++g_commands;
        g_events += kind == 1 ? std::stol(n) : 0;
        return check(client.type(line + "\r\n") && client.waitFor(answer, 20s),
                     name + ": no answer to \"" + line + "\"");
    }

    const int id;
    const bool api;
    // The client side of its telnet connection: it never answers the daemon's option
    // negotiation, which the daemon sends once at the start and does not wait for.
    Terminal client;
    const std::string name = "session " + std::to_string(id);
    const std::string mark = "\ns" + std::to_string(id) + "c";  // its tags, as output lines begin
    std::minstd_rand random{static_cast<unsigned>(id)};
    long commands = 0;
};

// pid -> resident memory in KiB of every shell in the device.
std::map<int, long> shellRss(DeviceSession &device) {
    const char *script =
        "for p in $(pgrep -x vela); do echo $p $(awk '/^VmRSS/ {print $2}' /proc/$p/status); done";
    std::istringstream in(device.runInDevice({"sh", "-c", script}).out);
    std::map<int, long> rss;
    for (int pid = 0; in >> pid;)
        in >> rss[pid];
    return rss;
}

}  // namespace

int main(int argc, char **argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (!(minutes > 0)) return std::fprintf(stderr, "usage: vela_soak [minutes]\n"), 2;
    ::signal(SIGPIPE, SIG_IGN);  // a closed connection is reported, not fatal
    DeviceOptions options;
    options.velaBinary = VELA_BINARY;
    options.command = {"sleep", "infinity"};
    options.launcherArguments = {"--telnetd"};
    DeviceSession device(options);
    auto expectSetting = [&](int port, const std::string &value) {
        const std::string name = "telnet_client_" + std::to_string(port);
        check(eventually([&] { return device.setting(name) == value; }),
              name + " is not \"" + value + "\"");
    };

    // One session after the other, each until it has recorded its login: a starting
    // shell's children briefly carry its command line, and would count for another
    // shell starting at the same moment. The first of a port records its client.
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < kSessions; ++i) {
        const int port = i < kTelnetSessions ? 23 : 24;
        auto &w =
            *workers.emplace_back(new Worker{i, port == 24, Terminal(device.connectTcp(port))});
        w.client.keepReading();
        if (!check(eventually([&] { return loopsReady(device) > i; }, 10s),
                   w.name + " did not start: " + w.client.output()))
            return 1;
        if (i == 0 || i == kTelnetSessions) expectSetting(port, "127.0.0.1");
    }
    // The eleventh, of either type, is refused before it registers, with an API record.
    Terminal eleventh(device.connectTcp(24));
    check(eleventh.waitFor("Error: Terminating because too many concurrent telnet sessions "
                           "have been started.") &&
              eleventh.waitEnd() && zuzCount(device, "R: ", true) == kSessions,
          "the eleventh session was not refused: " + eleventh.output());
    check(waitForRecord(device, ":0:vela error: Terminating"), "no record of the refusal");

    // Every kind of command once, so that later growth is not first use.
    for (auto &worker : workers)
        for (int kind = 0; kind < kKinds; ++kind)
            if (!worker->step(kind)) return 1;
    const auto rssStart = shellRss(device);

    const auto until = Clock::now() + std::chrono::milliseconds(static_cast<long>(minutes * 60000));
    std::vector<std::thread> threads;
    threads.emplace_back([&, log = device.connectDatagram("/dev/log")] {  // 100 lines a second
        for (long n = 0; Clock::now() < until; std::this_thread::sleep_for(10ms))
            g_logLines += sendDatagram(log, "<13>flood: soak log line " + std::to_string(n++) +
                                                " %s%n \x1b[2J with some text to show");
    });
    for (auto &worker : workers)
        threads.emplace_back([&, w = worker.get()] {
            while (Clock::now() < until && w->step(static_cast<int>(w->random() % kKinds))) {
            }
        });
    for (auto &thread : threads)
        thread.join();

    const auto rssEnd = shellRss(device);
    for (auto &w : workers) {
        for (auto &other : workers)  // a telnet session's live log shows it otherwise
            check(other == w || w->client.output().find(other->mark) == std::string::npos,
                  w->name + " shows the output of " + other->name);
        check(w->client.type("exit\r\n") && w->client.waitEnd(10s),
              w->name + " did not end on exit");
    }
    check(eventually([&] { return shellRss(device).empty(); }, 10s),
          "shells left running after exit");
    expectSetting(23, "");
    expectSetting(24, "");
    Terminal ipv6(device.connectTcp(23, true));
    check(ipv6.waitFor("Session type: telnet"), "no session over IPv6: " + ipv6.output());
    expectSetting(23, "::1");
    check(ipv6.type("exit\r\n") && ipv6.waitEnd(), "the IPv6 session did not end");
    expectSetting(23, "");

    std::printf(
        "soak: %.1f minutes, %d sessions; commands %ld, application events %ld, log "
        "lines %ld\n",
        minutes, kSessions, g_commands.load(), g_events.load(), g_logLines.load());
    check(rssStart.size() == workers.size(), "not every shell's memory was read");
    for (const auto &[pid, start] : rssStart) {
        const long end = rssEnd.contains(pid) ? rssEnd.at(pid) : -1;
        std::printf("shell %d: resident %ld KiB after the warm-up, %ld KiB at the end\n", pid,
                    start, end);
        check(end >= 0 && (end - start <= kRssSlackKib || !kJudgeMemory),
              "the memory of a shell grew");
    }
    std::printf("errors %ld\n", g_errors.load());
    return g_errors == 0 ? 0 : 1;
}
