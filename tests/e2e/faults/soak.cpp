// Soak: eleven sessions through the device's telnet daemons for a bounded time (seven
// telnet sessions on port 23 and three api sessions on port 24, then an eleventh that the
// session limit refuses by design), each typing random commands and raising application
// events while a flood of log lines reaches every telnet session's live log. Every
// command must be answered in time, no session may end on its own, every shell must end
// on "exit", and no shell's resident memory may grow after its warm-up.
//
//   vela_soak [minutes]     (scripts/soak; 2 minutes by default)
#include <sys/socket.h>

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

#include "DeviceSession.h"
#include "TelnetClient.h"

using namespace vela::test;
using vela::test::telnet::TelnetClient;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTelnetSessions = 7, kSessions = kTelnetSessions + 3, kKinds = 6;
constexpr auto kLogLinePause = std::chrono::milliseconds(10);  // 100 lines a second
// Resident memory may grow by this much after the warm-up (pages touched late).
constexpr long kRssSlackKib = 256;

std::atomic<long> g_commands{0}, g_events{0}, g_logLines{0}, g_errors{0};

// Errors are printed as they happen; the workers share stderr.
void report(const std::string &what) {
    static std::mutex print;
    std::lock_guard<std::mutex> lock(print);
    std::fprintf(stderr, "soak: error: %s\n", what.c_str());
    ++g_errors;
}

// One session's client and the commands it types.
struct Worker {
    // Types one command of that kind and waits for its answer; false (after a report)
    // on a timeout or a closed connection.
    bool step(int kind) {
        const std::string tag = "s" + std::to_string(id) + "c" + std::to_string(commands++);
        const std::string n = std::to_string(1 + random() % 40);
        const std::pair<std::string, std::string> kinds[kKinds] = {
            {"echo " + tag, "\n" + tag + "\r\n"},
            {"events " + n, "event " + n + " of " + n + ":"},
            {"status", "sessions: "},
            {"nosuch" + tag, "error: command not found"},
            {api ? "version" : "test " + tag + " b", api ? "libxcom 0.0.1" : "argv[1]=" + tag},
            {api ? "help" : "history", api ? "commands of the application:" : "history success"},
        };
        const auto &[line, answer] = kinds[kind];
        ++g_commands;
        if (kind == 1) g_events += std::stol(n);
        if (client.typeLine(line) && client.waitFor(answer, std::chrono::seconds(20))) return true;
        report("session " + std::to_string(id) + ": no answer to \"" + line + "\"" +
               (client.connected() ? "" : " (connection closed)"));
        return false;
    }

    const int id;
    const bool api;
    TelnetClient client;
    std::minstd_rand random{static_cast<unsigned>(id)};
    long commands = 0;
};

// pid -> resident memory in KiB of every shell in the device.
std::map<int, long> shellRss(DeviceSession &device) {
    std::istringstream in(device
                              .runInDevice({"sh", "-c",
                                            "for p in $(pgrep -x vela); do echo $p $(awk "
                                            "'/^VmRSS/ {print $2}' /proc/$p/status); done"})
                              .out);
    std::map<int, long> rss;
    int pid;
    long kib;
    while (in >> pid >> kib)
        rss[pid] = kib;
    return rss;
}

}  // namespace

int main(int argc, char **argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (!(minutes > 0)) {
        std::fprintf(stderr, "usage: vela_soak [minutes]\n");
        return 2;
    }
    DeviceOptions options;
    options.velaBinary = VELA_BINARY;
    options.command = {"sleep", "infinity"};
    options.launcherArguments = {"--telnetd"};
    DeviceSession device(options);

    // One session after the other, each until it has recorded its login: a starting
    // shell's children briefly carry its command line, and would count for another
    // shell starting at the same moment.
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < kSessions; ++i) {
        const int port = i < kTelnetSessions ? 23 : 24;
        const std::string login = "E: execwithoutecho systemsetting telnet_client_" +
                                  std::to_string(port) + "_success True";
        auto logins = [&] { return std::ranges::count(device.zuzReceived(), login); };
        const long before = logins();
        workers.push_back(
            std::make_unique<Worker>(i, port == 24, TelnetClient(device.connectTcp(port))));
        if (!eventually([&] { return logins() > before; }, 10s)) {
            report("session " + std::to_string(i) + " did not start: " + workers[i]->client.text());
            return 1;
        }
    }
    TelnetClient eleventh(device.connectTcp(23));
    const bool refused = eleventh.waitFor(
                             "Error: Terminating because too many concurrent "
                             "telnet sessions have been started.") &&
                         eleventh.waitClosed();
    if (!refused) report("the eleventh session was not refused: " + eleventh.text());

    // Every kind of command once, so that later growth is not first use.
    for (auto &worker : workers)
        for (int kind = 0; kind < kKinds; ++kind)
            if (!worker->step(kind)) return 1;
    const std::map<int, long> rssStart = shellRss(device);

    const auto until = Clock::now() + std::chrono::milliseconds(static_cast<long>(minutes * 60000));
    std::vector<std::thread> threads;
    threads.emplace_back([&, log = device.connectDatagram("/dev/log")] {
        for (long n = 0; Clock::now() < until; std::this_thread::sleep_for(kLogLinePause)) {
            const std::string line = "<13>flood: soak log line " + std::to_string(n++) +
                                     " %s%n \x1b[2J with some text to show";
            if (::send(log.get(), line.data(), line.size(), 0) > 0) ++g_logLines;
        }
    });
    for (auto &worker : workers)
        threads.emplace_back([&, w = worker.get()] {
            while (Clock::now() < until && w->step(static_cast<int>(w->random() % kKinds))) {
            }
        });
    for (auto &thread : threads)
        thread.join();

    const std::map<int, long> rssEnd = shellRss(device);
    for (auto &worker : workers)
        if (!worker->client.typeLine("exit") || !worker->client.waitClosed(10s))
            report("session " + std::to_string(worker->id) + " did not end on exit");
    if (!eventually([&] { return shellRss(device).empty(); }, 10s))
        report("shells left running after exit");

    std::printf("soak: %.1f minutes, %d sessions started, %d served, 1 refused by the limit%s\n",
                minutes, kSessions + 1, kSessions, refused ? " (as expected)" : " (NOT refused)");
    std::printf("commands %ld, application events %ld, log lines %ld, errors %ld\n",
                g_commands.load(), g_events.load(), g_logLines.load(), g_errors.load());
    bool flat = rssStart.size() == workers.size();
    if (!flat)
        report("found " + std::to_string(rssStart.size()) + " shells, not " +
               std::to_string(workers.size()));
    // Shells start in session order, so their pids come in that order too.
    auto worker = workers.begin();
    for (const auto &[pid, start] : rssStart) {
        const long end = rssEnd.contains(pid) ? rssEnd.at(pid) : -1;
        flat = flat && end >= 0 && end - start <= kRssSlackKib;
        const Worker *w = worker != workers.end() ? (worker++)->get() : nullptr;
        std::printf(
            "pid %-6d %-6s %6ld commands, resident %ld KiB at the start, %ld KiB at the end\n", pid,
            w && w->api ? "api" : "telnet", w ? w->commands : 0, start, end);
    }
    std::printf("resident memory %s\n", flat ? "flat" : "NOT flat");
    return g_errors == 0 && flat && refused ? 0 : 1;
}
