#include "text.h"

#include <stdlib.h>
#include <string.h>

namespace cle {

bool Text::assign(const char *text, size_t len) noexcept {
    if (len >= room_) {
        // Doubling, as lines of the same kind come again a little longer. The old block
        // may hold the source, so it goes only after the copy.
        const size_t room = len + 1 > 2 * room_ ? len + 1 : 2 * room_;
        char *grown = static_cast<char *>(malloc(room));
        if (grown == nullptr) return false;
        memcpy(grown, text, len);
        free(bytes_);
        bytes_ = grown;
        room_ = room;
    } else {
        memmove(bytes_, text, len);
    }
    bytes_[len] = '\0';
    size_ = len;
    return true;
}

void Text::clear() noexcept {
    if (bytes_ != nullptr) bytes_[0] = '\0';
    size_ = 0;
}

void Text::release() noexcept {
    free(bytes_);
    bytes_ = nullptr;
    size_ = 0;
    room_ = 0;
}

}  // namespace cle
