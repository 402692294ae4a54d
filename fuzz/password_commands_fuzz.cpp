// preProcessPasswordCommands and join_encoding_secrets on arbitrary command lines: the
// secret words of the two password commands always leave in hex and nothing else
// changes; a line whose encoded form would not fit the 512-byte command buffer is
// refused unchanged, never cut.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "command_parsing.h"
#include "hex_encoded.h"
#include "secret_words.h"

using vela::fuzz::cString;

constexpr size_t kCmdbuffRoom = 512;

// Whether word i is secret: setpassword's fourth and fifth of five, webmonitoring's
// second of three.
static bool secret(const std::vector<std::string> &w, size_t i) {
    return (w.size() == 5 && w[0] == "setpassword" && i >= 3) ||
           (w.size() == 3 && w[0] == "webmonitoring" && i == 1);
}

// The words joined by single blanks, the secret ones in hex.
static std::string joined(const std::vector<std::string> &w) {
    std::string out;
    for (size_t i = 0; i < w.size(); ++i)
        out += (i > 0 ? " " : "") + (secret(w, i) ? vela::test::hexEncoded(w[i]) : w[i]);
    return out;
}

// What a call left in its buffer: the expected text, or when that would not fit, a
// refusal with the buffer as it was.
static void checkResult(int result, const char *buffer, const std::string &expected,
                        const std::string &before) {
    if (expected.size() < kCmdbuffRoom)
        FUZZ_CHECK(result == 0 && buffer == expected);
    else
        FUZZ_CHECK(result == -1 && buffer == before);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string line = vela::fuzz::FuzzInput(data, size).text('\0', kCmdbuffRoom - 1);
    auto copy = cString(line, kCmdbuffRoom);
    char *argv[MAX_ARGS];
    int argc = 0;
    const bool split = tokenizeString(copy.get(), &argc, argv) == 0 && argc > 0;
    const std::vector<std::string> w(argv, argv + (split ? argc : 0));

    // Lines without secrets stay exactly as typed.
    auto cmdbuff = cString(line, kCmdbuffRoom);
    const int result = preProcessPasswordCommands(cmdbuff.get());
    checkResult(result, cmdbuff.get(), secret(w, 1) || secret(w, 3) ? joined(w) : line, line);
    // What "api", "sys" and "kbox" send of the words they were given.
    if (!split) return 0;
    auto out = cString("untouched", kCmdbuffRoom);
    checkResult(join_encoding_secrets(out.get(), argc, argv), out.get(), joined(w), "untouched");
    return 0;
}
