// One figure of the benchmark report. Every benchmark program appends its figures to one
// results file, a tab-separated line each; the report program reads them back.
#pragma once

#include <limits>
#include <string>
#include <vector>

namespace vela::bench {

inline constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// CPU time (user + system) per unit of work, of both sides, measured in the same run.
struct CpuFigure {
    std::string unit;         // e.g. "us/command", "ms/MB"; empty when the row times no work
    double shell = kNone;     // vela's side
    double baseline = kNone;  // the raw program's side
    // Whose CPU time is counted, the same on both sides: "prog" (vela or the raw program,
    // every thread), "kids" (the programs it started), "zuz", "syslogd" (the device's
    // daemons its work goes through), joined by "+"; "thread" for one benchmark thread.
    std::string counted;
};

// One part of a figure made of parts, e.g. what one object puts into a program.
struct Part {
    std::string name;
    double value = kNone;
};

// For a row that measures the same run as another: its CPU time is shown in that row.
inline CpuFigure seeRow(const std::string &id) {
    return {"", kNone, kNone, "see " + id};
}

struct Figure {
    std::string id;           // row number and letter, e.g. "1a"
    std::string what;         // what was measured, one line
    std::string unit;         // e.g. "us/command", "lines/s", "KiB", "allocs/line"
    double shell = kNone;     // vela's figure
    double baseline = kNone;  // the raw program's figure, measured in the same run; kNone if none
    // "ratio<=X" or "ratio>=X" (shell / baseline), "value<=X", "value==X", "report", or
    // "skipped" (not measured on this machine, by design).
    std::string target;
    std::string note;  // how it was measured, or why it is missing
    CpuFigure cpu = {};
    // Which build of the shell the row is about: "host" (built and run on this machine),
    // "ppc" (the device's PowerPC build). The report shows each build's rows apart.
    std::string build = "host";
    // The largest parts of the figure, largest first, for a figure made of parts (row 9's
    // sizes); empty for the others.
    std::vector<Part> parts = {};
};

// Appends one figure to the file at path (created when missing) in a single write, so
// that several programs may append to one file. Throws std::runtime_error. Any thread.
void appendFigure(const std::string &path, const Figure &figure);

// The figure as one tab-separated line without its LF; tabs and line ends inside the
// fields become blanks. Pure; any thread.
std::string formatFigure(const Figure &figure);

// Parses a line made by formatFigure; false (figure unchanged) for anything else. Pure;
// any thread.
bool parseFigure(const std::string &line, Figure &figure);

// Every figure of the file, in file order, owned by the caller; unreadable lines are
// counted in *skipped. An absent file gives none. Throws nothing; any thread.
std::vector<Figure> readFigures(const std::string &path, int *skipped);

}  // namespace vela::bench
