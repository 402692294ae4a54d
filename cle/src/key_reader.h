// Reading keys from standard input: bytes with read-ahead and time limits, and the
// decoding of escape sequences.
#pragma once

#include <cstddef>
#include <string_view>

namespace cle::keys {

// Waits within the current time limit for one byte of fd 0; 0 with the byte in *ch,
// -1 on a failed wait, an expired limit, a read error or end of input.
int read_char(char *ch);
// Bytes already read ahead and not yet handed out.
bool pending();
// Those bytes, valid until the next read; consume(n) hands out the first n of them, as
// n calls of read_char would (none of them waits).
std::string_view read_ahead();
void consume(std::size_t n);
// Drops what was read ahead.
void drop_pending();

// What an escape sequence asks for.
enum class EscapeKey { None, Home, End, Left, Right, Delete, Up, Down };

// Reads the rest of a sequence after ESC: "[" or "O" and a key byte; a key byte from
// "1" to "9" is followed by one more byte (the tilde), consumed whatever it is. A second
// byte other than "[" or "O", an unknown key or a failed read gives None.
EscapeKey read_control_key();

}  // namespace cle::keys
