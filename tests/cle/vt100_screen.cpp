#include "vt100_screen.h"

#include <algorithm>
#include <cstdlib>

namespace cle_test {

char &Vt100Screen::cell(int r, int c) {
    if (static_cast<int>(cells_.size()) <= r) cells_.resize(r + 1, std::string(cols_, ' '));
    return cells_[r][c];
}

std::vector<std::string> Vt100Screen::rows() const {
    std::vector<std::string> out = cells_;
    out.resize(std::max<size_t>(cells_.size(), lowest_ + 1), std::string(cols_, ' '));
    return out;
}

void Vt100Screen::put(char c) {
    if (pending_) {
        col_ = 0;
        lowest_ = std::max(lowest_, ++row_);
        pending_ = false;
    }
    cell(row_, col_) = c;
    if (col_ == cols_ - 1) {
        pending_ = true;
    } else {
        ++col_;
    }
}

void Vt100Screen::control(char final, int n) {
    if (n == 0) n = 1;  // a VT100 reads a count of 0 as 1
    pending_ = false;
    switch (final) {
        case 'A':
            if (row_ - n < 0) errors_ += "cursor up above the prompt row; ";
            row_ = std::max(0, row_ - n);
            break;
        case 'B':
            // A real screen stops at its last row; moving below what exists is an error.
            if (row_ + n > lowest_) errors_ += "cursor down below the text; ";
            row_ = std::min(lowest_, row_ + n);
            break;
        case 'C':
            col_ = std::min(cols_ - 1, col_ + n);
            break;
        case 'J':
            for (int c = col_; c < cols_; ++c)
                cell(row_, c) = ' ';
            cells_.resize(std::min<size_t>(cells_.size(), row_ + 1));
            break;
        default:
            errors_.append("unknown sequence ESC [ ").append(seq_, 2).append("; ");
    }
}

void Vt100Screen::feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (!seq_.empty()) {
            seq_ += c;
            if (seq_.size() == 2 && c != '[') errors_ += "ESC without [; ";
            if (seq_.size() > 2 && (c < '0' || c > '9')) {
                const std::string digits = seq_.substr(2, seq_.size() - 3);
                if (digits.empty() && c != 'J') errors_ += "move without a count; ";
                if (!digits.empty() && c == 'J') errors_ += "erase with a count; ";
                control(c, std::atoi(digits.c_str()));
                seq_.clear();
            }
            continue;
        }
        switch (c) {
            case '\x1b':
                seq_.assign(1, c);
                break;
            case '\r':
                col_ = 0, pending_ = false;
                break;
            case '\n':
                lowest_ = std::max(lowest_, ++row_), pending_ = false;
                break;
            case '\b':
                if (col_ > 0) --col_;
                pending_ = false;
                break;
            case '\a':
            case '\0':
                break;
            default:
                if (c >= 0x20 && c <= 0x7e) {
                    put(c);
                } else {
                    errors_ += "unexpected control byte; ";
                }
        }
    }
}

}  // namespace cle_test
