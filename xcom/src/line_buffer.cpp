// Bookkeeping of the held bytes of the line reader.
#include "line_buffer.h"

#include <cstdint>
#include <cstring>

#include "libxcom.h"

namespace xcom {
namespace {

// The start offset and its complement follow the NUL after the largest held run; the
// complement tells a stored offset from a zeroed or never-used buffer.
constexpr std::size_t kOffsetAt = XCOM_MAX_HELD + 1;
static_assert(kOffsetAt + 2 * sizeof(std::uint32_t) <= XCOM_READ_BUFFER_SIZE);

}  // namespace

HeldBytes::HeldBytes(char *buffer, int *buflen) noexcept : buffer_(buffer), buflen_(buflen) {
    const int held = *buflen_;
    if (held < 0 || held > XCOM_MAX_HELD) {
        valid_ = false;
        return;
    }
    std::uint32_t words[2];
    std::memcpy(words, buffer_ + kOffsetAt, sizeof words);
    const bool stored = words[1] == ~words[0] && words[0] <= std::uint32_t(XCOM_MAX_HELD - held);
    start_ = held > 0 && stored ? static_cast<int>(words[0]) : 0;
}

int HeldBytes::find_line() noexcept {
    const int held = *buflen_;
    const char *from = data() + searched_;
    const auto *lf = static_cast<const char *>(std::memchr(from, '\n', held - searched_));
    if (lf == nullptr) {
        scanned_ += static_cast<std::size_t>(held - searched_);
        searched_ = held;
        return 0;
    }
    scanned_ += static_cast<std::size_t>(lf - from + 1);
    return static_cast<int>(lf - data()) + 1;
}

int HeldBytes::free_space() const noexcept {
    return XCOM_MAX_HELD - *buflen_;
}

char *HeldBytes::receive_area() noexcept {
    if (start_ > 0) {
        std::memmove(buffer_, buffer_ + start_, static_cast<std::size_t>(*buflen_));
        moved_ += static_cast<std::size_t>(*buflen_);
        start_ = 0;
        store();
    }
    return buffer_ + *buflen_;
}

void HeldBytes::received(int count) noexcept {
    *buflen_ += count;
    store();
}

bool HeldBytes::consume(int length) noexcept {
    if (length > *buflen_) return false;
    *buflen_ -= length;
    start_ = *buflen_ == 0 ? 0 : start_ + length;
    searched_ = 0;
    store();
    return true;
}

void HeldBytes::store() noexcept {
    buffer_[start_ + *buflen_] = '\0';
    const std::uint32_t words[2] = {std::uint32_t(start_), ~std::uint32_t(start_)};
    std::memcpy(buffer_ + kOffsetAt, words, sizeof words);
}

}  // namespace xcom
