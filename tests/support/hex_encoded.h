// How the shell hex-encodes a secret for the application, written independently of the
// shell's own encoder so that tests and fuzz targets can check it: two lower-case hex
// digits per character, top bit cleared.
#ifndef VELA_TEST_HEX_ENCODED_H
#define VELA_TEST_HEX_ENCODED_H

#include <string>
#include <string_view>

namespace vela::test {

inline std::string hexEncoded(std::string_view text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += kDigits[(c & 0x7F) >> 4];
        out += kDigits[c & 0x0F];
    }
    return out;
}

}  // namespace vela::test

#endif
