#include "Report.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace vela::bench {
namespace {

constexpr double kValueTolerance = 0.005;

// Splits "ratio<=1.3" into "ratio", "<=" and 1.3; false for anything else.
bool parseTarget(const std::string &target, std::string &subject, std::string &op, double &bound) {
    for (const char *candidate : {"<=", ">=", "=="}) {
        size_t at = target.find(candidate);
        if (at == std::string::npos) continue;
        subject = target.substr(0, at);
        op = candidate;
        const std::string number = target.substr(at + 2);
        char *end = nullptr;
        bound = std::strtod(number.c_str(), &end);
        return !number.empty() && *end == '\0' && (subject == "ratio" || subject == "value");
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

std::string targetText(const std::string &target) {
    std::string subject, op;
    double bound = 0;
    if (!parseTarget(target, subject, op, bound)) return target == "report" ? "report" : target;
    const std::string symbol = op == "<=" ? "<= " : op == ">=" ? ">= " : "= ";
    return symbol + formatNumber(bound) + (subject == "ratio" ? "x" : "");
}

const char *verdictText(Verdict v) {
    switch (v) {
        case Verdict::Met:
            return "met";
        case Verdict::Missed:
            return "MISSED";
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

std::string pad(const std::string &text, size_t width, bool right = false) {
    if (text.size() >= width) return text;
    const std::string fill(width - text.size(), ' ');
    return right ? fill + text : text + fill;
}

}  // namespace

double ratioOf(const Figure &f) {
    if (std::isnan(f.shell) || std::isnan(f.baseline) || f.baseline == 0) return NAN;
    return f.shell / f.baseline;
}

Verdict verdictOf(const Figure &f) {
    if (std::isnan(f.shell)) return Verdict::Failed;
    std::string subject, op;
    double bound = 0;
    if (!parseTarget(f.target, subject, op, bound)) return Verdict::Reported;
    const double value = subject == "ratio" ? ratioOf(f) : f.shell;
    if (std::isnan(value)) return Verdict::Failed;
    bool met = op == "<="   ? value <= bound
               : op == ">=" ? value >= bound
                            : std::fabs(value - bound) < kValueTolerance;
    return met ? Verdict::Met : Verdict::Missed;
}

bool idLess(const std::string &a, const std::string &b) {
    const long na = std::strtol(a.c_str(), nullptr, 10);
    const long nb = std::strtol(b.c_str(), nullptr, 10);
    if (na != nb) return na < nb;
    return a < b;
}

void printTable(std::ostream &out, const std::vector<Figure> &figures) {
    size_t whatWidth = 4;
    for (const Figure &f : figures)
        whatWidth = std::max(whatWidth, f.what.size());
    out << pad("#", 4) << pad("what", whatWidth + 2) << pad("unit", 12) << pad("vela", 10, true)
        << pad("raw", 10, true) << pad("ratio", 8, true) << "  " << pad("target", 10)
        << "verdict\n";
    for (const Figure &f : figures) {
        const double ratio = ratioOf(f);
        out << pad(f.id, 4) << pad(f.what, whatWidth + 2) << pad(f.unit, 12)
            << pad(formatNumber(f.shell), 10, true) << pad(formatNumber(f.baseline), 10, true)
            << pad(std::isnan(ratio) ? "-" : formatNumber(ratio) + "x", 8, true) << "  "
            << pad(targetText(f.target), 10) << verdictText(verdictOf(f)) << "\n";
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
        out << (i == 0 ? "\n" : ",\n") << "    {\"id\": " << jsonString(f.id)
            << ", \"what\": " << jsonString(f.what) << ", \"unit\": " << jsonString(f.unit)
            << ", \"vela\": " << jsonNumber(f.shell) << ", \"raw\": " << jsonNumber(f.baseline)
            << ", \"ratio\": " << jsonNumber(ratioOf(f)) << ", \"target\": " << jsonString(f.target)
            << ", \"verdict\": " << jsonString(verdictText(verdictOf(f)))
            << ", \"note\": " << jsonString(f.note) << "}";
    }
    out << "\n  ]\n}\n";
}

}  // namespace vela::bench
