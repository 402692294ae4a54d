#include "LogRecord.h"

#include <cctype>
#include <cstdio>

namespace sim {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "Mmm dd hh:mm:ss " as the C library writes it.
bool startsWithTimestamp(std::string_view text) {
    if (text.size() < 16) return false;
    return std::isalpha(static_cast<unsigned char>(text[0])) && text[3] == ' ' && text[6] == ' ' &&
           text[9] == ':' && text[12] == ':' && text[15] == ' ' && isDigit(text[7]) &&
           isDigit(text[8]) && isDigit(text[10]) && isDigit(text[13]);
}

}  // namespace

LogRecord parseLogRecord(std::string_view text) {
    LogRecord record;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0'))
        text.remove_suffix(1);

    if (text.size() > 2 && text[0] == '<') {
        size_t end = 1;
        int value = 0;
        while (end < text.size() && end <= 3 && isDigit(text[end]))
            value = value * 10 + (text[end++] - '0');
        if (end > 1 && end < text.size() && text[end] == '>' && value <= 191) {
            record.priority = value;
            text.remove_prefix(end + 1);
        }
    }
    if (startsWithTimestamp(text)) text.remove_prefix(16);

    // IDENT ends at '[' or ':'; a first word without a colon is message text.
    size_t tagEnd = 0;
    while (tagEnd < text.size() && text[tagEnd] != '[' && text[tagEnd] != ':' &&
           text[tagEnd] != ' ')
        ++tagEnd;
    size_t rest = tagEnd;
    std::string_view pid;
    if (rest < text.size() && text[rest] == '[') {
        size_t close = text.find(']', rest);
        if (close != std::string_view::npos) {
            pid = text.substr(rest + 1, close - rest - 1);
            rest = close + 1;
        }
    }
    if (tagEnd > 0 && rest < text.size() && text[rest] == ':') {
        record.identity = std::string(text.substr(0, tagEnd));
        record.pid = std::string(pid);
        ++rest;
        if (rest < text.size() && text[rest] == ' ') ++rest;
        text.remove_prefix(rest);
    }
    record.message = std::string(text);
    return record;
}

const char *levelWord(int priority) {
    static const char *const kLevels[] = {"emerg",   "alert",  "crit", "err",
                                          "warning", "notice", "info", "debug"};
    return kLevels[priority & 7];
}

std::string formatLogLine(const LogRecord &record, std::time_t when) {
    struct tm tm {};
    localtime_r(&when, &tm);
    // Fixed widths keep the level word at position 20 whatever the year.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d", (tm.tm_year + 1900) % 10000, tm.tm_mon + 1,
                  tm.tm_mday);
    std::string line(stamp, 10);
    line += ' ';
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    line.append(stamp, 8);
    line += ' ';
    line += levelWord(record.priority);
    line += ' ';
    if (!record.identity.empty()) {
        line += record.identity;
        line += ": ";
    }
    line += record.message;
    return line;
}

}  // namespace sim
