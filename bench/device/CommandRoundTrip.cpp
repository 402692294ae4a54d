// 1: typed commands forwarded to the application and answered "R: 0", against a raw program
// that echoes the same bytes one at a time and makes the same XCOM exchange with the same
// application. An api session also logs every line it reads, and so does the raw program
// then; a telnet session does not. CPU: the program, zuz, and in api sessions syslogd.
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "Driver.h"

namespace vela::bench {
namespace {

constexpr int kWarmup = 20;  // per round, untimed
constexpr size_t kCommandLength = 20;

// Commands numbered per program, so that each is new to the history and the application.
struct Typist {
    Terminal &program;
    bool keyByKey;
    int next = 0;

    // Types one command of kCommandLength characters and Enter, each key after the echo of
    // the one before, or the whole line in one write; returns after the echo of Enter.
    void command() {
        char text[32];
        std::snprintf(text, sizeof text, "bench-cmd-%010d\r", next++);
        if (keyByKey) {
            for (size_t k = 0; k < kCommandLength; ++k)
                key(std::string_view(&text[k], 1), text[k]);
            key("\r", '\n');
        } else {
            key(std::string_view(text, kCommandLength + 1), '\n');
        }
    }
    void key(std::string_view typed, char echoEnd) {
        require(program.type(typed) && program.waitFor(std::string_view(&echoEnd, 1), 10s), program,
                "no echo in time");
    }

    // Microseconds per command over count commands. The clock stops at the echo of the
    // first key after the last command, which only comes once its reply has arrived.
    Measure run(int count, const CpuMeter &meter) {
        program.discardOutput();
        for (int i = 0; i < kWarmup; ++i)
            command();
        const double cpu0 = meter.seconds(program.pid());
        const auto t0 = Clock::now();
        for (int i = 0; i < count; ++i)
            command();
        key("b", 'b');
        const auto t1 = Clock::now();
        const double cpu1 = meter.seconds(program.pid());
        program.type("\x7f");  // the next round starts on an empty line
        if (program.count("error") != 0)
            throw std::runtime_error("a command was not answered with R: 0: " +
                                     program.output().substr(0, 300));
        return {secondsBetween(t0, t1) / count * 1e6, (cpu1 - cpu0) / count * 1e6};
    }
};

}  // namespace

void runCommandRoundTrip(const Context &ctx) {
    const int count = ctx.quick ? 200 : 10000;
    const int perRound = std::max(count / ctx.rounds, 1);
    struct Mode {
        const char *id;
        const char *session;  // and the prefix the raw program sends
        bool keyByKey;
        const char *what;
    };
    const Mode modes[] = {
        {"1a", "api", true, "command round trip, api session, typed key by key"},
        {"1b", "api", false, "command round trip, api session, each line in one write"},
        {"1c", "telnet", false, "command round trip, telnet session, each line in one write"},
    };
    std::unique_ptr<Terminal> shell, raw;
    const char *running = "";
    for (const Mode &mode : modes) {
        const bool api = std::string(mode.session) == "api";
        if (std::string(running) != mode.session) {
            shell = startShell(ctx, mode.session);
            raw = startRaw(
                ctx, "raw_command_echo",
                api ? std::vector<std::string>{"E: ", "--log"} : std::vector<std::string>{"C: "});
            running = mode.session;
        }
        const CpuMeter meter(api ? std::vector<std::string>{"zuz", "syslogd"}
                                 : std::vector<std::string>{"zuz"});
        Typist shellTypist{*shell, mode.keyByKey};
        Typist rawTypist{*raw, mode.keyByKey};
        SideBySide r = alternate(
            ctx.rounds, false, [&] { return shellTypist.run(perRound, meter); },
            [&] { return rawTypist.run(perRound, meter); });
        Figure f{mode.id,
                 mode.what,
                 "us/command",
                 kNone,
                 kNone,
                 "ratio<=1.3",
                 std::to_string(perRound * ctx.rounds) + " commands of 20 characters; " +
                     roundsNote(r, ctx.rounds)};
        setSides(f, r, "us/command", meter.counted());
        ctx.record(f);
    }
}

}  // namespace vela::bench
