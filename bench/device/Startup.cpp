// 8: start-up of a telnet session, from the fork of the program to the application's
// registration notice on the terminal and to the first prompt (an Enter typed ahead is
// answered with "-> "), against a raw program that reads the same settings and makes the
// same exchanges. Median of many starts, the two programs taking turns.
#include <algorithm>
#include <stdexcept>

#include "Driver.h"

namespace vela::bench {
namespace {

struct StartTimes {
    double registered;
    double prompt;
};

StartTimes timeStart(const std::vector<std::string> &argv) {
    PtyProgram program(argv, "\r");
    Clock::time_point registered{}, prompt{};
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (registered == Clock::time_point{} || prompt == Clock::time_point{}) {
        if (!program.readMore(deadline) || Clock::now() >= deadline)
            throw std::runtime_error("a start-up did not reach its prompt: " + program.output());
        const auto now = Clock::now();
        if (registered == Clock::time_point{} &&
            program.output().find(kRegisteredNotice) != std::string::npos)
            registered = now;
        if (prompt == Clock::time_point{} && program.output().find("-> ") != std::string::npos)
            prompt = now;
    }
    return {secondsBetween(program.started(), registered),
            secondsBetween(program.started(), prompt)};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

void runStartup(const Context &ctx) {
    const int starts = ctx.quick ? 5 : 50;
    std::vector<double> shellRegistered, shellPrompt, rawRegistered, rawPrompt;
    for (int i = 0; i < starts; ++i) {
        StartTimes shell = timeStart({ctx.vela, "-t", "telnet"});
        StartTimes raw = timeStart({ctx.program("raw_startup")});
        shellRegistered.push_back(shell.registered);
        shellPrompt.push_back(shell.prompt);
        rawRegistered.push_back(raw.registered);
        rawPrompt.push_back(raw.prompt);
    }
    const std::string note = "median of " + std::to_string(starts) + " starts";
    ctx.record({"8a", "start-up, telnet session: exec to the registration notice", "ms",
                median(shellRegistered) * 1e3, median(rawRegistered) * 1e3, "ratio<=1.3", note});
    ctx.record({"8b", "start-up, telnet session: exec to the first prompt", "ms",
                median(shellPrompt) * 1e3, median(rawPrompt) * 1e3, "ratio<=1.3", note});
}

}  // namespace vela::bench
