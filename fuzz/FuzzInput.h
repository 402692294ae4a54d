// Takes a fuzz input apart: numbers and byte runs from the front, the rest as a whole.
// Running out of bytes is not an error: every read then gives zeros or empty runs.
// Beside it, what every target shares: its checks and a silent standard output.
#ifndef VELA_FUZZ_INPUT_H
#define VELA_FUZZ_INPUT_H

#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace vela::fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    // A value in [0, n), n > 0.
    size_t below(size_t n) { return (n <= 256 ? byte() : u16()) % n; }

    // The next n bytes (fewer at the end).
    std::string bytes(size_t n) {
        n = std::min(n, size_ - pos_);
        std::string out(reinterpret_cast<const char *>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    std::string rest() { return bytes(size_ - pos_); }
    // Bytes up to (not including) the next stop byte, which is consumed.
    std::string until(char stop) {
        std::string out;
        while (!empty()) {
            char c = static_cast<char>(data_[pos_++]);
            if (c == stop) break;
            out += c;
        }
        return out;
    }
    // The same as the C string a caller would hold: cut at a NUL, and at max characters.
    std::string text(char stop, size_t max = std::string::npos) {
        std::string out = until(stop);
        out.resize(std::min(strnlen(out.c_str(), out.size()), max));
        return out;
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Output of the code under test is not wanted: standard output goes to /dev/null.
inline void silenceStdout() {
    fflush(stdout);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, 1) < 0) abort();
    close(null);
}

// Checks an invariant; on failure prints what and where, then aborts so that the fuzzer
// (or the corpus replay) reports the input.
#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::vela::fuzz::checkFailed(#condition, __FILE__, __LINE__))
[[noreturn]] inline void checkFailed(const char *what, const char *file, int line) {
    fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    abort();
}

}  // namespace vela::fuzz

#endif
