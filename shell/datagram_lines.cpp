#include "datagram_lines.h"

#include <string.h>

#include <algorithm>

namespace {

bool is_control(char byte) {
    return static_cast<unsigned char>(byte) <= 0x1F;
}

}  // namespace

DatagramLines::Take DatagramLines::take(char *line, int *length) {
    const char *from = bytes_ + start_ + searched_;
    const auto *lf = static_cast<const char *>(memchr(from, '\n', held_ - searched_));
    if (lf == nullptr) {
        searched_ = held_;
        return held_ >= XCOM_MAX_HELD ? Take::kOverflow : Take::kNeedMore;
    }
    const int size = static_cast<int>(lf - (bytes_ + start_)) + 1;
    if (size > XCOM_MAX_LINE) return Take::kOverflow;  // left held, as the reader ends
    memcpy(line, bytes_ + start_, static_cast<size_t>(size));
    *length = clean_received_line(line, size);
    held_ -= size;
    start_ = held_ == 0 ? 0 : start_ + size;
    searched_ = 0;
    return Take::kLine;
}

char *DatagramLines::receive_area() {
    if (start_ > 0) {
        memmove(bytes_, bytes_ + start_, static_cast<size_t>(held_));
        start_ = 0;
    }
    return bytes_ + held_;
}

int clean_received_line(char *line, int length) {
    char *const end = line + length;
    char *const kept_end = std::remove(line, end, '\0');
    length = static_cast<int>(kept_end - line);
    if (kept_end != end) std::replace(line, kept_end, '%', ' ');
    int lead = 0;
    while (lead < length && is_control(line[lead]))
        ++lead;
    while (length > lead && is_control(line[length - 1]))
        --length;
    length -= lead;
    memmove(line, line + lead, static_cast<size_t>(length));
    line[length] = '\0';
    return length;
}
