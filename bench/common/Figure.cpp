#include "Figure.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace vela::bench {
namespace {

constexpr int kFields = 7;

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

}  // namespace

std::string formatFigure(const Figure &f) {
    return clean(f.id) + '\t' + clean(f.what) + '\t' + clean(f.unit) + '\t' + number(f.shell) +
           '\t' + number(f.baseline) + '\t' + clean(f.target) + '\t' + clean(f.note);
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
    if (fields.size() != kFields || fields[0].empty()) return false;
    Figure f;
    f.id = fields[0];
    f.what = fields[1];
    f.unit = fields[2];
    if (!parseNumber(fields[3], f.shell) || !parseNumber(fields[4], f.baseline)) return false;
    f.target = fields[5];
    f.note = fields[6];
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
