// 8: start-up of a telnet session, from the fork of the program to the application's
// registration notice on the terminal and to the first prompt (an Enter typed ahead is
// answered with "-> "), against a raw program that reads the same settings and makes the
// same exchanges. Median of many starts, the two programs taking turns. CPU per start: the
// program (killed at its prompt) with the configuration tool runs it waited for, and zuz
// and syslogd, which take part in every start-up.
#include <stdexcept>

#include "Driver.h"

namespace vela::bench {
namespace {

struct StartTimes {
    double registered;
    double prompt;
    double cpu;
};

StartTimes timeStart(const std::vector<std::string> &argv, const CpuMeter &meter) {
    const double daemons0 = meter.daemonSeconds();
    Terminal program(Terminal::Pty{});
    program.type("\r");  // kept for the program by the pty
    const auto started = Clock::now();
    program.start(argv);
    Clock::time_point registered{}, prompt{};
    const auto deadline = Clock::now() + 10s;
    while (registered == Clock::time_point{} || prompt == Clock::time_point{}) {
        require(program.readSome(deadline) && Clock::now() < deadline, program,
                "a start-up did not reach its prompt");
        const auto now = Clock::now();
        if (registered == Clock::time_point{} &&
            program.output().find(kRegisteredNotice) != std::string::npos)
            registered = now;
        if (prompt == Clock::time_point{} && program.output().find("-> ") != std::string::npos)
            prompt = now;
    }
    const double daemons = meter.daemonSeconds() - daemons0;
    program.kill();
    return {secondsBetween(started, registered), secondsBetween(started, prompt),
            program.reapedCpuSeconds() + daemons};
}

}  // namespace

void runStartup(const Context &ctx) {
    const int starts = ctx.quick ? 5 : 50;
    const CpuMeter meter({"zuz", "syslogd"});
    std::vector<double> shellRegistered, shellPrompt, shellCpu, rawRegistered, rawPrompt, rawCpu;
    for (int i = 0; i < starts; ++i) {
        StartTimes shell = timeStart({ctx.vela, "-t", "telnet"}, meter);
        StartTimes raw = timeStart({ctx.program("raw_startup")}, meter);
        shellRegistered.push_back(shell.registered);
        shellPrompt.push_back(shell.prompt);
        shellCpu.push_back(shell.cpu);
        rawRegistered.push_back(raw.registered);
        rawPrompt.push_back(raw.prompt);
        rawCpu.push_back(raw.cpu);
    }
    const std::string note = "median of " + std::to_string(starts) + " starts";
    // The CPU time of a start-up is that of the whole of it, to the prompt.
    ctx.record({"8a", "start-up, telnet session: exec to the registration notice", "ms",
                median(shellRegistered) * 1e3, median(rawRegistered) * 1e3, "ratio<=1.3", note,
                seeRow("8b")});
    ctx.record({"8b",
                "start-up, telnet session: exec to the first prompt",
                "ms",
                median(shellPrompt) * 1e3,
                median(rawPrompt) * 1e3,
                "ratio<=1.3",
                note,
                {"ms/start", median(shellCpu) * 1e3, median(rawCpu) * 1e3, meter.counted("kids")}});
}

}  // namespace vela::bench
