// 4: a directory file pasted into a telnet session between "importdirectory" and
// "importcomplete", stored under /tmp/webdata and handed to the application, against a raw
// program that reads the same paste from its pty into a file and makes the same hand-over.
// CPU: the program and zuz, which reads the handed-over file.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "Driver.h"

namespace vela::bench {
namespace {

constexpr size_t kLineLength = 99;  // characters of a pasted line; stored with a LF

// CSV lines of kLineLength characters, each ended by CR as a terminal sends Enter, filling
// at most bytes once stored (the shell keeps at most 3 MiB of a paste).
std::string makePaste(size_t bytes) {
    std::string paste;
    std::string line;
    for (size_t i = 0; (i + 1) * (kLineLength + 1) <= bytes; ++i) {
        char head[128];
        std::snprintf(head, sizeof head,
                      "Entry %06zu,Firstname Lastname %06zu,sip:e%06zu@example.com,+47%08zu,", i, i,
                      i, i);
        line.assign(head);
        for (size_t k = 0; line.size() < kLineLength; ++k)
            line += static_cast<char>('a' + (i + k) % 26);
        line.resize(kLineLength);
        paste += line;
        paste += '\r';
    }
    return paste;
}

// Bytes the application says it found in the handed-over file.
long importedBytes(const std::string &output) {
    size_t at = output.find("imported ");
    size_t lines = at == std::string::npos ? at : output.find(" lines, ", at);
    return lines == std::string::npos ? -1 : std::atol(output.c_str() + lines + 8);
}

// MB/s and CPU milliseconds per MB.
Measure rate(size_t bytes, double seconds, double cpuSeconds) {
    const double mb = static_cast<double>(bytes) / 1e6;
    return {mb / seconds, cpuSeconds / mb * 1e3};
}

Measure shellPaste(Terminal &shell, const std::string &paste, const CpuMeter &meter) {
    shell.discardOutput();
    require(shell.type("importdirectory\r") && shell.waitFor("import started"), shell,
            "no import started");
    const double cpu0 = meter.seconds(shell.pid());
    const auto t0 = Clock::now();
    require(shell.type(paste, 300s) && shell.type("importcomplete\r") &&
                shell.waitFor("imported ", 60s) && shell.waitFor(" bytes"),
            shell, "the import did not complete");
    const auto t1 = Clock::now();
    const double cpu1 = meter.seconds(shell.pid());
    if (importedBytes(shell.output()) != static_cast<long>(paste.size()))
        throw std::runtime_error("the shell stored another size than pasted");
    return rate(paste.size(), secondsBetween(t0, t1), cpu1 - cpu0);
}

// echo: "" for none, else the raw program's echo option.
Measure rawPaste(const Context &ctx, const std::string &paste, const std::string &echo,
                 const CpuMeter &meter) {
    std::vector<std::string> arguments = {"/tmp/webdata/raw.csv"};
    if (!echo.empty()) arguments.push_back(echo);
    auto raw = startRaw(ctx, "raw_paste", arguments);
    const double cpu0 = meter.seconds(raw->pid());
    const auto t0 = Clock::now();
    require(raw->type(paste, 300s) && raw->type("importcomplete\r") &&
                raw->waitFor("raw import done", 60s),
            *raw, "the raw import did not complete");
    const auto t1 = Clock::now();
    return rate(paste.size(), secondsBetween(t0, t1), meter.seconds(raw->pid()) - cpu0);
}

}  // namespace

void runPasteImport(const Context &ctx) {
    const std::string paste = makePaste(ctx.quick ? 256 * 1024 : 3 * 1024 * 1024);
    const int rounds = std::max(3, ctx.rounds / 2);  // each round pastes the whole file
    const std::string note = std::to_string(paste.size()) + " bytes in lines of " +
                             std::to_string(kLineLength) + " characters";
    ::mkdir("/tmp/webdata", 0755);
    auto shell = startShell(ctx, "telnet");
    const CpuMeter meter({"zuz"});
    std::vector<Measure> shellRuns, rawRuns, echoRuns, lineEchoRuns;
    for (int i = 0; i < rounds; ++i) {
        shellRuns.push_back(shellPaste(*shell, paste, meter));
        rawRuns.push_back(rawPaste(ctx, paste, "", meter));
        echoRuns.push_back(rawPaste(ctx, paste, "--echo", meter));
        lineEchoRuns.push_back(rawPaste(ctx, paste, "--echo-lines", meter));
    }
    const Rounds shellRounds = summarize(shellRuns, true);
    struct Row {
        const char *id;
        const char *what;
        const std::vector<Measure> &baseline;
        const char *target;
        const char *how;
    };
    const Row rows[] = {
        {"4a", "paste import into /tmp/webdata, telnet session", rawRuns, "report",
         "the raw reader does not echo"},
        {"4b", "paste import, against a raw reader that echoes what it reads", echoRuns, "report",
         "the shell echoes every byte, as typed"},
        {"4c", "paste import, against a raw reader that writes each line's echo at once",
         lineEchoRuns, "ratio>=0.8,cpu<=2",
         "the editor shows each line as soon as Enter ends it, one write per line"},
    };
    for (const Row &row : rows) {
        const SideBySide r{shellRounds, summarize(row.baseline, true)};
        Figure f{row.id,
                 row.what,
                 "MB/s",
                 kNone,
                 kNone,
                 row.target,
                 note + "; " + row.how + "; " + roundsNote(r, rounds)};
        setSides(f, r, "ms/MB", meter.counted());
        ctx.record(f);
    }
}

}  // namespace vela::bench
