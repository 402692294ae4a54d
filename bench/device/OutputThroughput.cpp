// 2 and 3: lines delivered to a session's listener socket, one datagram each, and read
// from the pty master, against a raw datagram-to-pty forwarder fed the same datagrams.
//   2: application output on the API listener, as the API event reader shows it;
//   3: system-log lines on the log listener, through the log monitor's filters.
// CPU: the program alone (the lines are sent by this driver, alike for both), and syslogd
// too where each line is also logged.
#include <stdexcept>
#include <thread>

#include "Datagrams.h"
#include "Driver.h"

namespace vela::bench {
namespace {

constexpr const char *kRawOutputPath = "/tmp/bench-raw-output";

// Lines per second from the first send to the end marker on the terminal, and CPU
// microseconds per line.
Measure linesPerSecond(Terminal &program, const std::string &path, const LineBatch &batch,
                       const CpuMeter &meter) {
    program.discardOutput();
    bool sent = false;  // written by the sender, read after it has been joined
    const double cpu0 = meter.seconds(program.pid());
    const auto t0 = Clock::now();
    std::thread sender([&] { sent = sendBatch(path, batch); });
    const std::optional<size_t> shown = program.drainUntil(kEndMarker, 120s);
    const auto t1 = Clock::now();
    const double cpu1 = meter.seconds(program.pid());
    sender.join();
    require(shown.has_value(), program, "the lines did not reach the terminal in time");
    if (!sent) throw std::runtime_error("the lines could not all be sent to " + path);
    // Every line reaches the terminal with at least its own bytes.
    if (*shown < batch.bytes())
        throw std::runtime_error("lines went missing on the way to the terminal via " + path);
    const double lines = static_cast<double>(batch.size());
    return {lines / secondsBetween(t0, t1), (cpu1 - cpu0) / lines * 1e6};
}

// A listener socket of the shell: "/tmp/<dir>/vela" and the number of its terminal.
std::string listenerOf(const Terminal &shell, const char *dir) {
    const std::string &tty = shell.slavePath();
    return "/tmp/" + std::string(dir) + "/vela" + tty.substr(tty.rfind('/') + 1);
}

// The figure of a side-by-side run of count lines per round.
Figure linesFigure(const char *id, const char *what, size_t perRound, const Context &ctx,
                   const SideBySide &r, const CpuMeter &meter, const std::string &more = "") {
    Figure f{id,
             what,
             "lines/s",
             kNone,
             kNone,
             "ratio>=0.8",
             std::to_string(perRound * static_cast<size_t>(ctx.rounds)) +
                 " lines, one datagram each; " + roundsNote(r, ctx.rounds) + more};
    setSides(f, r, "us/line", meter.counted());
    return f;
}

}  // namespace

void runApplicationOutput(const Context &ctx) {
    const size_t count = (ctx.quick ? 2000 : 100000) / static_cast<size_t>(ctx.rounds);
    const LineBatch lines50 = makeLines(count, 50, "event", kEndMarker);
    const LineBatch lines200 = makeLines(count, 200, "event", kEndMarker);
    struct Case {
        const char *id;
        const LineBatch &lines;
        bool cr;
        const char *what;
    };
    const Case cases[] = {
        {"2a", lines50, false, "application output, 50-byte lines, telnet session"},
        {"2b", lines50, true, "application output, 50-byte lines, CR inserted (eol False)"},
        {"2c", lines200, false, "application output, 200-byte lines, telnet session"},
        {"2d", lines200, true, "application output, 200-byte lines, CR inserted (eol False)"},
    };
    // Later benchmarks start sessions with the default line end, whatever happens here.
    struct RestoreLineEnd {
        ~RestoreLineEnd() {
            try {
                setDeviceSetting("eol", "True");
            } catch (...) {
            }
        }
    } restore;
    for (bool cr : {false, true}) {
        // The line end is read once, at the shell's start.
        setDeviceSetting("eol", cr ? "False" : "True");
        auto shell = startShell(ctx, "telnet");
        std::vector<std::string> rawArguments = {kRawOutputPath};
        if (cr) rawArguments.push_back("--cr");
        auto raw = startRaw(ctx, "raw_forwarder", rawArguments);
        const CpuMeter meter;
        for (const Case &c : cases) {
            if (c.cr != cr) continue;
            SideBySide r = alternate(
                ctx.rounds, true,
                [&] {
                    return linesPerSecond(*shell, listenerOf(*shell, "apiasynclisteners"), c.lines,
                                          meter);
                },
                [&] { return linesPerSecond(*raw, kRawOutputPath, c.lines, meter); });
            ctx.record(linesFigure(c.id, c.what, count, ctx, r, meter));
        }
    }
    setDeviceSetting("eol", "True");  // the api session below takes the default line end

    // An api session also mirrors every line to the system log, and so does the raw
    // forwarder here, record for record.
    auto shell = startShell(ctx, "api");
    auto raw = startRaw(ctx, "raw_forwarder", {kRawOutputPath, "--log"});
    const CpuMeter meter({"syslogd"});
    SideBySide r = alternate(
        ctx.rounds, true,
        [&] {
            return linesPerSecond(*shell, listenerOf(*shell, "apiasynclisteners"), lines50, meter);
        },
        [&] { return linesPerSecond(*raw, kRawOutputPath, lines50, meter); });
    ctx.record(linesFigure("2e", "application output, 50-byte lines, api session, each line logged",
                           count, ctx, r, meter,
                           "; the raw forwarder sends the same record per line to syslogd"));
}

void runLiveLog(const Context &ctx) {
    const size_t count = (ctx.quick ? 2000 : 100000) / static_cast<size_t>(ctx.rounds);
    constexpr const char *kRawLogPath = "/tmp/bench-raw-log";
    auto shell = startShell(ctx, "telnet");
    // Ten show filters, of which only the last one occurs in the lines, and ten cull filters
    // that never occur: every line passes, after the most filter work there can be.
    for (const char *filters :
         {"show add sip: h323: video: audio: camera: network: dhcp: ntp: web: zuz:\r\r",
          "cull add keepalive heartbeat debug-noise poll: stats: snmp: upnp: mdns: lldp: "
          "watchdog\r\r"})
        require(shell->type(filters) && shell->waitFor("-> "), *shell, "no prompt");
    // The layout syslogd sends: date field, time field, level word, message.
    const LineBatch lines =
        makeLines(count, 100, "2026-12-05 19:53:21 info zuz: call status", kEndMarker);
    const std::string logListener = listenerOf(*shell, "sysloglisteners");
    auto raw = startRaw(ctx, "raw_forwarder", {kRawLogPath});
    const CpuMeter meter;
    SideBySide r = alternate(
        ctx.rounds, true, [&] { return linesPerSecond(*shell, logListener, lines, meter); },
        [&] { return linesPerSecond(*raw, kRawLogPath, lines, meter); });
    ctx.record(linesFigure("3a",
                           "live log, 100-byte lines, 10 show and 10 cull filters, telnet session",
                           count, ctx, r, meter, "; every line passes the filters"));
}

}  // namespace vela::bench
