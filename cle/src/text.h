// A NUL-terminated text on the heap that keeps its room: assigning a text that fits
// allocates nothing, so a line per call costs no allocation once the room has grown.
// Made with malloc rather than std::string, whose failures are exceptions.
#pragma once

#include <stddef.h>

#include <string_view>

namespace cle {

class Text {
  public:
    Text() noexcept = default;
    ~Text() { release(); }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    // Copies len bytes from text (which may lie in this text itself). False, leaving the
    // text as it was, when memory is short.
    bool assign(const char *text, size_t len) noexcept;
    bool assign(std::string_view text) noexcept { return assign(text.data(), text.size()); }
    // Empties the text, keeping its room.
    void clear() noexcept;
    // Empties the text and gives its room back; held() is false again.
    void release() noexcept;

    // False until the first successful assign, and after release.
    bool held() const noexcept { return bytes_ != nullptr; }
    const char *c_str() const noexcept { return bytes_ != nullptr ? bytes_ : ""; }
    size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::string_view view() const noexcept { return {c_str(), size_}; }

  private:
    char *bytes_ = nullptr;
    size_t size_ = 0;
    size_t room_ = 0;  // bytes_ holds room_ bytes, the NUL included
};

}  // namespace cle
