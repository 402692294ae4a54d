// Takes a fuzz input apart: numbers and byte runs from the front, the rest as a whole.
// Running out of bytes is not an error: every read then gives zeros or empty runs.
// Beside it, what every target shares: its checks, C strings in buffers of the room the
// code under test gives them, and a silent standard output.
#ifndef VELA_FUZZ_INPUT_H
#define VELA_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

namespace vela::fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t *data, size_t size)
        : data_(reinterpret_cast<const char *>(data), size) {}

    bool empty() const { return data_.empty(); }
    uint8_t byte() { return empty() ? 0 : static_cast<uint8_t>(bytes(1)[0]); }
    uint16_t u16() {
        const uint8_t low = byte();  // read first: the operands of | are not ordered
        return static_cast<uint16_t>(low | byte() << 8);
    }
    // A value in [0, n), n > 0.
    size_t below(size_t n) { return (n <= 256 ? byte() : u16()) % n; }

    // The next n bytes (fewer at the end).
    std::string bytes(size_t n) {
        const std::string_view out = data_.substr(0, n);
        data_.remove_prefix(out.size());
        return std::string(out);
    }
    std::string rest() { return bytes(data_.size()); }
    // The same as the C string a caller would hold: the bytes up to the next stop byte
    // (which is consumed), cut at a NUL and at max characters.
    std::string text(char stop, size_t max = std::string::npos) {
        const std::string out = bytes(data_.find(stop)).c_str();
        if (!empty()) data_.remove_prefix(1);
        return out.substr(0, max);
    }

  private:
    std::string_view data_;
};

// text as a C string in a buffer of room bytes (room > text.size()).
inline std::unique_ptr<char[]> cString(const std::string &text, size_t room) {
    auto buffer = std::make_unique<char[]>(room);
    memcpy(buffer.get(), text.c_str(), text.size() + 1);
    return buffer;
}

// Output of the code under test is not wanted: standard output goes to /dev/null, from
// the start of every target.
inline void silenceStdout() {
    if (fflush(stdout) != 0 || freopen("/dev/null", "w", stdout) == nullptr) abort();
}
[[maybe_unused]] inline const bool kStdoutSilenced = (silenceStdout(), true);

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
