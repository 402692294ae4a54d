#include "Figure.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace vela::bench {
namespace {

// The fields of a results line, in their order.
enum Field {
    kBuild,
    kId,
    kWhat,
    kUnit,
    kShell,
    kBaseline,
    kTarget,
    kCpuUnit,
    kCpuShell,
    kCpuBaseline,
    kCpuCounted,
    kNote,
    kParts,
    kFields
};

std::string clean(const std::string &text) {
    std::string out = text;
    for (char &c : out)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return out;
}

std::string number(double value) {
    if (std::isnan(value)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

bool parseNumber(const std::string &text, double &value) {
    if (text == "-") {
        value = kNone;
        return true;
    }
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size();
}

// "VALUE NAME;VALUE NAME": names lose their semicolons.
std::string partsText(const std::vector<Part> &parts) {
    std::string text;
    for (const Part &p : parts) {
        std::string name = p.name;
        for (char &c : name)
            if (c == ';') c = ',';
        if (!text.empty()) text += ';';
        text += number(p.value);
        text += ' ';
        text += name;
    }
    return text;
}

bool parseParts(const std::string &text, std::vector<Part> &parts) {
    for (size_t from = 0; from < text.size();) {
        const size_t end = std::min(text.find(';', from), text.size());
        const size_t space = text.find(' ', from);
        if (space == std::string::npos || space >= end) return false;
        Part p{text.substr(space + 1, end - space - 1)};
        if (!parseNumber(text.substr(from, space - from), p.value)) return false;
        parts.push_back(std::move(p));
        from = end + 1;
    }
    return true;
}

}  // namespace

std::string formatFigure(const Figure &f) {
    std::string fields[kFields];
    fields[kBuild] = f.build;
    fields[kId] = f.id;
    fields[kWhat] = f.what;
    fields[kUnit] = f.unit;
    fields[kShell] = number(f.shell);
    fields[kBaseline] = number(f.baseline);
    fields[kTarget] = f.target;
    fields[kCpuUnit] = f.cpu.unit;
    fields[kCpuShell] = number(f.cpu.shell);
    fields[kCpuBaseline] = number(f.cpu.baseline);
    fields[kCpuCounted] = f.cpu.counted;
    fields[kNote] = f.note;
    fields[kParts] = partsText(f.parts);
    std::string line;
    for (int i = 0; i < kFields; ++i) {
        if (i > 0) line += '\t';
        line += clean(fields[i]);
    }
    return line;
}

bool parseFigure(const std::string &line, Figure &figure) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (fields.size() != kFields || fields[kBuild].empty() || fields[kId].empty()) return false;
    Figure f;
    if (!parseNumber(fields[kShell], f.shell) || !parseNumber(fields[kBaseline], f.baseline) ||
        !parseNumber(fields[kCpuShell], f.cpu.shell) ||
        !parseNumber(fields[kCpuBaseline], f.cpu.baseline) || !parseParts(fields[kParts], f.parts))
        return false;
    f.build = fields[kBuild];
    f.id = fields[kId];
    f.what = fields[kWhat];
    f.unit = fields[kUnit];
    f.target = fields[kTarget];
    f.cpu.unit = fields[kCpuUnit];
    f.cpu.counted = fields[kCpuCounted];
    f.note = fields[kNote];
    figure = std::move(f);
    return true;
}

void appendFigure(const std::string &path, const Figure &figure) {
    const std::string line = formatFigure(figure) + '\n';
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n != static_cast<ssize_t>(line.size())) throw std::runtime_error("cannot write " + path);
}

std::vector<Figure> readFigures(const std::string &path, int *skipped) {
    std::vector<Figure> figures;
    int bad = 0;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        Figure f;
        if (parseFigure(line, f))
            figures.push_back(std::move(f));
        else if (!line.empty())
            ++bad;
    }
    if (skipped != nullptr) *skipped = bad;
    return figures;
}

}  // namespace vela::bench
