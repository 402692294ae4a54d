// preProcessPasswordCommands and join_encoding_secrets on arbitrary command lines: the
// secret words of the two password commands always leave in hex and nothing else
// changes; a line whose encoded form would not fit the 512-byte command buffer is
// refused unchanged, never cut.
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "command_parsing.h"
#include "hex_encoded.h"
#include "secret_words.h"

namespace {

constexpr size_t kCmdbuffRoom = 512;

std::vector<std::string> words(const std::string &line) {
    std::vector<char> copy(line.begin(), line.end());
    copy.push_back('\0');
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(copy.data(), &argc, argv) != 0) return {};
    return std::vector<std::string>(argv, argv + argc);
}

// Whether word i is secret: setpassword's fourth and fifth of five, webmonitoring's
// second of three.
bool secret(const std::vector<std::string> &w, size_t i) {
    return (w.size() == 5 && w[0] == "setpassword" && i >= 3) ||
           (w.size() == 3 && w[0] == "webmonitoring" && i == 1);
}

// The words joined by single blanks, the secret ones in hex.
std::string joined(const std::vector<std::string> &w) {
    std::string out;
    for (size_t i = 0; i < w.size(); ++i)
        out += (i > 0 ? " " : "") + (secret(w, i) ? vela::test::hexEncoded(w[i]) : w[i]);
    return out;
}

void checkPreProcess(const std::string &line, const std::vector<std::string> &w) {
    auto cmdbuff = std::make_unique<char[]>(kCmdbuffRoom);
    memcpy(cmdbuff.get(), line.c_str(), line.size() + 1);
    const int result = preProcessPasswordCommands(cmdbuff.get());
    const std::string after = cmdbuff.get();
    // Lines without secrets stay exactly as typed.
    const std::string expected = secret(w, 1) || secret(w, 3) ? joined(w) : line;
    if (expected.size() > kCmdbuffRoom - 1)
        FUZZ_CHECK(result == -1 && after == line);
    else
        FUZZ_CHECK(result == 0 && after == expected);
}

// What "api", "sys" and "kbox" send of the words they were given.
void checkJoin(std::vector<std::string> w) {
    if (w.empty()) return;
    std::vector<char *> argv;
    for (auto &word : w)
        argv.push_back(word.data());
    auto out = std::make_unique<char[]>(kCmdbuffRoom);
    strcpy(out.get(), "untouched");
    const int result = join_encoding_secrets(out.get(), static_cast<int>(argv.size()), argv.data());
    const std::string expected = joined(w);
    if (expected.size() > kCmdbuffRoom - 1)
        FUZZ_CHECK(result == -1 && strcmp(out.get(), "untouched") == 0);
    else
        FUZZ_CHECK(result == 0 && expected == out.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    vela::fuzz::silenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vela::fuzz::FuzzInput input(data, size);
    const std::string line = input.text('\0', kCmdbuffRoom - 1);
    const std::vector<std::string> w = words(line);
    checkPreProcess(line, w);
    checkJoin(w);
    return 0;
}
