// The held bytes of a caller's accumulation buffer, as the line reader sees them.
#pragma once

#include <cstddef>

namespace xcom {

// Held bytes sit at a start offset inside the caller's buffer; the offset is kept in the
// buffer's trailing bytes between calls. Taking a line only moves the offset, and the held
// bytes are moved to the front only before a receive, when no whole line is held, so each
// line costs work in proportion to its own length. *buflen always counts the held bytes and
// a NUL always follows them. Used by the one thread that reads the socket.
class HeldBytes {
  public:
    // Adopts buffer (XCOM_READ_BUFFER_SIZE bytes) and its count of held bytes.
    HeldBytes(char *buffer, int *buflen) noexcept;

    // False when *buflen is out of range; nothing else may then be called.
    bool valid() const noexcept { return valid_; }
    int size() const noexcept { return *buflen_; }
    const char *data() const noexcept { return buffer_ + start_; }

    // Length of the first held line, its LF included, or 0 when no LF is held. Bytes
    // already searched since the last line was taken are not searched again.
    int find_line() noexcept;
    // Room left for received bytes.
    int free_space() const noexcept;
    // Moves the held bytes to the front; free_space() bytes may then be received there.
    char *receive_area() noexcept;
    // Accounts for count bytes received into receive_area().
    void received(int count) noexcept;
    // Drops the first length bytes; false (nothing changed) when fewer are held.
    bool consume(int length) noexcept;

    // Work done so far, for tests: bytes searched for a LF and bytes moved.
    std::size_t scanned() const noexcept { return scanned_; }
    std::size_t moved() const noexcept { return moved_; }

  private:
    void store() noexcept;

    char *buffer_;
    int *buflen_;
    bool valid_ = true;
    int start_ = 0;
    int searched_ = 0;  // held bytes known to hold no LF
    std::size_t scanned_ = 0;
    std::size_t moved_ = 0;
};

}  // namespace xcom
