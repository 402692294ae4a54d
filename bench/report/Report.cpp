#include "Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace vela::bench {
namespace {

constexpr double kValueTolerance = 0.005;

// One condition of a target: "ratio<=1.3" into "ratio", "<=" and 1.3; false for
// anything else. Subjects: ratio (of the figures), cpu (ratio of the CPU per unit), value.
bool parseTarget(const std::string &target, std::string &subject, std::string &op, double &bound) {
    for (const char *candidate : {"<=", ">=", "=="}) {
        size_t at = target.find(candidate);
        if (at == std::string::npos) continue;
        subject = target.substr(0, at);
        op = candidate;
        const std::string number = target.substr(at + 2);
        char *end = nullptr;
        bound = std::strtod(number.c_str(), &end);
        return !number.empty() && *end == '\0' &&
               (subject == "ratio" || subject == "cpu" || subject == "value");
    }
    return false;
}

std::string formatNumber(double value) {
    if (std::isnan(value)) return "-";
    char text[32];
    const double magnitude = std::fabs(value);
    if (magnitude >= 100 || value == 0)
        std::snprintf(text, sizeof text, "%.0f", value);
    else if (magnitude >= 10)
        std::snprintf(text, sizeof text, "%.1f", value);
    else if (magnitude >= 1)
        std::snprintf(text, sizeof text, "%.2f", value);
    else
        std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The conditions of a target, which all must hold: "ratio>=0.8,cpu<=2".
std::vector<std::string> conditionsOf(const std::string &target) {
    std::vector<std::string> conditions;
    for (size_t from = 0, comma; from <= target.size(); from = comma + 1) {
        comma = std::min(target.find(',', from), target.size());
        conditions.push_back(target.substr(from, comma - from));
    }
    return conditions;
}

const char *verdictText(Verdict v) {
    switch (v) {
        case Verdict::Met:
            return "met";
        case Verdict::Missed:
            return "MISSED";
        case Verdict::Skipped:
            return "skipped";
        case Verdict::Failed:
            return "FAILED";
        case Verdict::Reported:
            break;
    }
    return "-";
}

std::string jsonNumber(double value) {
    if (std::isnan(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string pad(const std::string &text, size_t width, bool right) {
    if (text.size() >= width) return text;
    const std::string fill(width - text.size(), ' ');
    return right ? fill + text : text + fill;
}

std::string ratioText(double ratio) {
    return std::isnan(ratio) ? "-" : formatNumber(ratio) + "x";
}

std::string textOrDash(const std::string &text) {
    return text.empty() ? "-" : text;
}

// The table's columns: the figure (wall clock for the timed rows), the CPU time per unit,
// and what was measured, last because it is long. Cells are joined by two blanks.
struct Column {
    const char *title;
    size_t width;
    bool right;
};
const Column kColumns[] = {
    {"#", 3, false},         {"unit", 11, false},  {"vela", 7, true},     {"raw", 7, true},
    {"ratio", 6, true},      {"target", 9, false}, {"verdict", 7, false}, {"|", 1, false},
    {"CPU unit", 10, false}, {"vela", 7, true},    {"raw", 7, true},      {"ratio", 6, true},
    {"counted", 21, false},  {"|", 1, false},      {"what", 0, false},
};
constexpr size_t kColumnCount = sizeof kColumns / sizeof kColumns[0];

void printRow(std::ostream &out, const std::string (&cells)[kColumnCount]) {
    std::string line;
    for (size_t i = 0; i < kColumnCount; ++i) {
        if (i > 0) line += "  ";
        line += pad(cells[i], kColumns[i].width, kColumns[i].right);
    }
    out << line << "\n";
}

constexpr const char *kCpuLegend =
    "CPU: user + system time per unit of work, the median of the rounds, counted alike on both "
    "sides:\n"
    "  prog = vela or the raw program, every thread; kids = the programs it started and "
    "waited for;\n"
    "  zuz, syslogd = the application and the log daemon, for the work each side sends "
    "them;\n"
    "  thread = the benchmark's thread (Google Benchmark's CPU time).\n";

double quotient(double shell, double baseline) {
    if (std::isnan(shell) || std::isnan(baseline) || baseline == 0) return NAN;
    return shell / baseline;
}

}  // namespace

std::string targetText(const std::string &target) {
    std::string text;
    for (const std::string &condition : conditionsOf(target)) {
        std::string subject, op;
        double bound = 0;
        if (!parseTarget(condition, subject, op, bound)) return target;
        const std::string symbol = op == "<=" ? "<= " : op == ">=" ? ">= " : "= ";
        text += (text.empty() ? "" : ", ") + std::string(subject == "cpu" ? "CPU " : "") + symbol +
                formatNumber(bound) + (subject == "value" ? "" : "x");
    }
    return text;
}

double ratioOf(const Figure &f) {
    return quotient(f.shell, f.baseline);
}

double cpuRatioOf(const Figure &f) {
    return quotient(f.cpu.shell, f.cpu.baseline);
}

Verdict verdictOf(const Figure &f) {
    if (f.target == "skipped") return Verdict::Skipped;
    if (std::isnan(f.shell)) return Verdict::Failed;
    bool met = true;
    for (const std::string &condition : conditionsOf(f.target)) {
        std::string subject, op;
        double bound = 0;
        if (!parseTarget(condition, subject, op, bound)) return Verdict::Reported;
        const double value = subject == "ratio" ? ratioOf(f)
                             : subject == "cpu" ? cpuRatioOf(f)
                                                : f.shell;
        if (std::isnan(value)) return Verdict::Failed;
        met = met && (op == "<="   ? value <= bound
                      : op == ">=" ? value >= bound
                                   : std::fabs(value - bound) < kValueTolerance);
    }
    return met ? Verdict::Met : Verdict::Missed;
}

bool allTargetsMet(const std::vector<Figure> &figures) {
    for (const Figure &f : figures) {
        const Verdict v = verdictOf(f);
        if (v == Verdict::Missed || v == Verdict::Failed) return false;
    }
    return true;
}

bool idLess(const std::string &a, const std::string &b) {
    const long na = std::strtol(a.c_str(), nullptr, 10);
    const long nb = std::strtol(b.c_str(), nullptr, 10);
    if (na != nb) return na < nb;
    return a < b;
}

bool figureLess(const Figure &a, const Figure &b) {
    const bool aHost = a.build == "host", bHost = b.build == "host";
    if (aHost != bHost) return aHost;
    if (a.build != b.build) return a.build < b.build;
    return idLess(a.id, b.id);
}

void printTable(std::ostream &out, const std::vector<Figure> &figures) {
    std::string cells[kColumnCount];
    for (size_t i = 0; i < kColumnCount; ++i)
        cells[i] = kColumns[i].title;
    printRow(out, cells);
    const std::string *build = nullptr;
    for (const Figure &f : figures) {
        if (build == nullptr || *build != f.build) out << "[" << f.build << " build]\n";
        build = &f.build;
        const std::string row[kColumnCount] = {f.id,
                                               f.unit,
                                               formatNumber(f.shell),
                                               formatNumber(f.baseline),
                                               ratioText(ratioOf(f)),
                                               targetText(f.target),
                                               verdictText(verdictOf(f)),
                                               "|",
                                               textOrDash(f.cpu.unit),
                                               formatNumber(f.cpu.shell),
                                               formatNumber(f.cpu.baseline),
                                               ratioText(cpuRatioOf(f)),
                                               textOrDash(f.cpu.counted),
                                               "|",
                                               f.what};
        printRow(out, row);
    }
    out << kCpuLegend;
}

void printParts(std::ostream &out, const std::vector<Figure> &figures) {
    for (const Figure &f : figures) {
        if (f.parts.empty()) continue;
        out << f.id << " (" << f.build << ") " << f.what << ", its largest parts (" << f.unit
            << "):\n";
        for (const Part &p : f.parts)
            out << pad(formatNumber(p.value), 11, true) << "  " << p.name << "\n";
    }
}

std::string jsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void writeJson(std::ostream &out, const std::vector<Figure> &figures, const std::string &machine) {
    out << "{\n  \"machine\": " << jsonString(machine) << ",\n  \"figures\": [";
    for (size_t i = 0; i < figures.size(); ++i) {
        const Figure &f = figures[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"build\": " << jsonString(f.build)
            << ", \"id\": " << jsonString(f.id) << ", \"what\": " << jsonString(f.what)
            << ", \"unit\": " << jsonString(f.unit) << ", \"vela\": " << jsonNumber(f.shell)
            << ", \"raw\": " << jsonNumber(f.baseline) << ", \"ratio\": " << jsonNumber(ratioOf(f))
            << ", \"target\": " << jsonString(f.target)
            << ", \"verdict\": " << jsonString(verdictText(verdictOf(f)))
            << ", \"cpu_unit\": " << jsonString(f.cpu.unit)
            << ", \"vela_cpu\": " << jsonNumber(f.cpu.shell)
            << ", \"raw_cpu\": " << jsonNumber(f.cpu.baseline)
            << ", \"cpu_ratio\": " << jsonNumber(cpuRatioOf(f))
            << ", \"cpu_counted\": " << jsonString(f.cpu.counted)
            << ", \"note\": " << jsonString(f.note);
        if (!f.parts.empty()) {
            out << ", \"parts\": [";
            for (size_t p = 0; p < f.parts.size(); ++p)
                out << (p == 0 ? "" : ", ") << "{\"name\": " << jsonString(f.parts[p].name)
                    << ", \"value\": " << jsonNumber(f.parts[p].value) << "}";
            out << "]";
        }
        out << "}";
    }
    out << "\n  ]\n}\n";
}

}  // namespace vela::bench
