// One figure of the benchmark report. Every benchmark program appends its figures to one
// results file, a tab-separated line each; the report program reads them back.
#pragma once

#include <limits>
#include <string>
#include <vector>

namespace vela::bench {

inline constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

struct Figure {
    std::string id;           // row number and letter, e.g. "1a"
    std::string what;         // what was measured, one line
    std::string unit;         // e.g. "us/command", "lines/s", "KiB", "allocs/line"
    double shell = kNone;     // vela's figure
    double baseline = kNone;  // the raw program's figure, measured in the same run; kNone if none
    // "ratio<=X" or "ratio>=X" (shell / baseline), "value<=X", "value==X", or "report".
    std::string target;
    std::string note;  // how it was measured, or why it is missing
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
