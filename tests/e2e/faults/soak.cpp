// Soak: eleven sessions through the device's telnet daemons for a bounded time (seven
// telnet sessions on port 23 and three api sessions on port 24, then an eleventh that the
// session limit of ten refuses by design), each typing random commands and raising application
// events while a flood of log lines reaches every telnet session's live log. Every
// command must be answered in time, in its own session only; no session may end on its
// own, every shell must end on "exit", and no shell's resident memory may grow after its
// warm-up. The client addresses (IPv4 and IPv6) are recorded and cleared at the end.
//
//   vela_soak [minutes]     (scripts/soak; 2 minutes by default; a short run is a test)
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "DeviceSession.h"
#include "time_scale.h"

using namespace vela::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTelnetSessions = 7, kSessions = kTelnetSessions + 3, kKinds = 6;
// Resident memory may grow by this much after the warm-up (pages touched late).
constexpr long kRssSlackKib = 256;

std::atomic<long> g_commands{0}, g_events{0}, g_logLines{0}, g_errors{0};

// The client side of one telnet connection: it keeps what it receives and never answers
// the daemon's option negotiation, which the daemon sends once at the start and does not
// wait for. One thread only.
class TelnetClient {
  public:
    explicit TelnetClient(vela::UniqueFd socket) : socket_(std::move(socket)) {}
    const std::string &text() const { return text_; }
    bool connected() const { return socket_.valid(); }
    // Sends a line as a telnet client does for Enter (CR LF); false on a write error.
    bool typeLine(const std::string &line) {
        const std::string bytes = line + "\r\n";
        return connected() && ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                  static_cast<ssize_t>(bytes.size());
    }
    // Waits until text comes after the previous match and moves past it, or (for no
    // text) until the daemon closes the connection; false when neither comes in time.
    bool waitFor(const std::string &text, std::chrono::milliseconds timeout = 5s) {
        for (const auto end = Clock::now() + vela::test::scaled(timeout);;) {
            const size_t at = text.empty() ? std::string::npos : text_.find(text, matchEnd_);
            if (at != std::string::npos) {
                matchEnd_ = at + text.size();
                return true;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (!connected() || left <= 0ms) return !connected() && text.empty();
            pollfd fd{socket_.get(), POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::recv(socket_.get(), buffer, sizeof buffer, 0);
            if (n > 0) text_.append(buffer, static_cast<size_t>(n));
            if (n == 0 || (n < 0 && errno != EINTR)) socket_.reset();
        }
    }
    bool waitClosed(std::chrono::milliseconds timeout = 5s) { return waitFor("", timeout); }

  private:
    vela::UniqueFd socket_;
    std::string text_;
    size_t matchEnd_ = 0;
};

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
        if (client.typeLine(line) && client.waitFor(answer, std::chrono::seconds(20))) return true;
        report(name + ": no answer to \"" + line + (client.connected() ? "\"" : "\" (closed)"));
        return false;
    }

    const int id;
    const bool api;
    TelnetClient client;
    const std::string name = "session " + std::to_string(id);
    const std::string mark = "\ns" + std::to_string(id) + "c";  // its tags, as output lines begin
    std::minstd_rand random{static_cast<unsigned>(id)};
    long commands = 0;
};

bool isLogin(const std::string &zuzLine) {
    return zuzLine.ends_with("_success True");
}

// pid -> resident memory in KiB of every shell in the device.
std::map<int, long> shellRss(DeviceSession &device) {
    std::istringstream in(device
                              .runInDevice({"sh", "-c",
                                            "for p in $(pgrep -x vela); do echo $p $(awk "
                                            "'/^VmRSS/ {print $2}' /proc/$p/status); done"})
                              .out);
    std::map<int, long> rss;
    for (int pid = 0; in >> pid;)
        in >> rss[pid];
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
    auto expectSetting = [&](const std::string &name, const std::string &value) {
        if (!eventually([&] { return device.setting(name) == value; }))
            report(name + " is not \"" + value + "\"");
    };

    // One session after the other, each until it has recorded its login: a starting
    // shell's children briefly carry its command line, and would count for another
    // shell starting at the same moment. The first of a port records its client.
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < kSessions; ++i) {
        const bool api = i >= kTelnetSessions;
        workers.push_back(
            std::make_unique<Worker>(i, api, TelnetClient(device.connectTcp(api ? 24 : 23))));
        const auto logins = [&] { return std::ranges::count_if(device.zuzReceived(), isLogin); };
        if (!eventually([&] { return logins() > i; }, 10s)) {
            report(workers[i]->name + " did not start: " + workers[i]->client.text());
            return 1;
        }
        if (i == 0 || i == kTelnetSessions)
            expectSetting(api ? "telnet_client_24" : "telnet_client_23", "127.0.0.1");
    }
    // The eleventh, of either type, is refused before it registers, with an API record.
    TelnetClient eleventh(device.connectTcp(24));
    const bool refused =
        eleventh.waitFor(
            "Error: Terminating because too many concurrent telnet sessions have "
            "been started.") &&
        eleventh.waitClosed() && eventually([&] {
            return std::ranges::any_of(device.syslogRecords(), [](const SyslogRecord &record) {
                return record.message.find(":0:vela error: Terminating /dev/pts/") !=
                       std::string::npos;
            });
        }) &&
        std::ranges::count_if(device.zuzReceived(), [](const std::string &line) {
            return line.starts_with("R: ");
        }) == kSessions;
    if (!refused) report("the eleventh session was not refused: " + eleventh.text());

    // Every kind of command once, so that later growth is not first use.
    for (auto &worker : workers)
        for (int kind = 0; kind < kKinds; ++kind)
            if (!worker->step(kind)) return 1;
    const auto rssStart = shellRss(device);

    const auto until = Clock::now() + std::chrono::milliseconds(static_cast<long>(minutes * 60000));
    std::vector<std::thread> threads;
    threads.emplace_back([&, log = device.connectDatagram("/dev/log")] {  // 100 lines a second
        for (long n = 0; Clock::now() < until; std::this_thread::sleep_for(10ms)) {
            const std::string line = "<13>flood: soak log line " + std::to_string(n++) +
                                     " %s%n \x1b[2J with some text to show";
            g_logLines += ::send(log.get(), line.data(), line.size(), 0) > 0;
        }
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
            if (other != w && w->client.text().find(other->mark) != std::string::npos)
                report(w->name + " shows the output of " + other->name);
        if (!w->client.typeLine("exit") || !w->client.waitClosed(10s))
            report(w->name + " did not end on exit");
    }
    if (!eventually([&] { return shellRss(device).empty(); }, 10s))
        report("shells left running after exit");
    expectSetting("telnet_client_23", "");
    expectSetting("telnet_client_24", "");
    TelnetClient ipv6(device.connectTcp(23, true));
    if (!ipv6.waitFor("Session type: telnet")) report("no session over IPv6: " + ipv6.text());
    expectSetting("telnet_client_23", "::1");
    if (!ipv6.typeLine("exit") || !ipv6.waitClosed()) report("the IPv6 session did not end");
    expectSetting("telnet_client_23", "");

    std::printf("soak: %.1f minutes, %d sessions started, %d served, 1 refused by the limit%s\n",
                minutes, kSessions + 1, kSessions, refused ? " (as expected)" : " (NOT refused)");
    std::printf("commands %ld, application events %ld, log lines %ld, errors %ld\n",
                g_commands.load(), g_events.load(), g_logLines.load(), g_errors.load());
    bool flat = rssStart.size() == workers.size();
    for (const auto &[pid, start] : rssStart) {
        const long end = rssEnd.contains(pid) ? rssEnd.at(pid) : -1;
        flat = flat && end >= 0 && end - start <= kRssSlackKib;
        std::printf("shell %d: resident %ld KiB after the warm-up, %ld KiB at the end\n", pid,
                    start, end);
    }
    std::printf("%zu shells, resident memory %s\n", rssStart.size(), flat ? "flat" : "NOT flat");
    return g_errors == 0 && flat && refused ? 0 : 1;
}
