// Cleaning of received lines: pure byte work, no I/O.
#include "line_cleaning.h"

#include <algorithm>
#include <cstring>

namespace xcom {
namespace {

bool is_control(char byte) noexcept {
    return static_cast<unsigned char>(byte) <= 0x1F;
}

}  // namespace

int xcom_remove_nulls(char *line, int length) noexcept {
    char *const end = line + length;
    char *const kept_end = std::remove(line, end, '\0');
    *kept_end = '\0';
    return static_cast<int>(end - kept_end);
}

int clean_line(char *line, int length, void (*on_nulls)(const char *line)) noexcept {
    const int removed = xcom_remove_nulls(line, length);
    length -= removed;
    if (removed > 0) {
        std::replace(line, line + length, '%', ' ');
        if (on_nulls != nullptr) on_nulls(line);
    }
    // No NUL is left inside the line, so the leading run ends at the terminator at worst.
    int lead = 0;
    while (lead < length && is_control(line[lead]))
        ++lead;
    int end = length;
    while (end > lead && is_control(line[end - 1]))
        --end;
    length = end - lead;
    std::memmove(line, line + lead, static_cast<std::size_t>(length));
    line[length] = '\0';
    return length;
}

}  // namespace xcom
