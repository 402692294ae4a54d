// preProcessPasswordCommands and join_encoding_secrets on arbitrary command lines: the
// secret words of the two password commands always leave in hex and nothing else
// changes; a line whose encoded form would not fit the 512-byte command buffer is
// refused unchanged, never cut.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "app_link.h"
#include "command_parsing.h"

using vela::fuzz::FuzzInput;

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

std::string hexOf(const std::string &text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += kDigits[(c & 0x7F) >> 4];
        out += kDigits[c & 0x0F];
    }
    return out;
}

// Which words are secret: setpassword's fourth and fifth of five, webmonitoring's second
// of three.
std::vector<size_t> secretWords(const std::vector<std::string> &w) {
    if (w.size() == 5 && w[0] == "setpassword") return {3, 4};
    if (w.size() == 3 && w[0] == "webmonitoring") return {1};
    return {};
}

// The words joined by single blanks, the secret ones in hex.
std::string joined(const std::vector<std::string> &w, const std::vector<size_t> &secrets) {
    std::string out;
    for (size_t i = 0; i < w.size(); ++i) {
        bool secret = !secrets.empty() && (i == secrets.front() || i == secrets.back());
        out += (i > 0 ? " " : "") + (secret ? hexOf(w[i]) : w[i]);
    }
    return out;
}

void checkPreProcess(const std::string &line) {
    auto cmdbuff = std::make_unique<char[]>(kCmdbuffRoom);
    memcpy(cmdbuff.get(), line.c_str(), line.size() + 1);
    int result = preProcessPasswordCommands(cmdbuff.get());
    std::string after = cmdbuff.get();
    FUZZ_CHECK(after.size() <= kCmdbuffRoom - 1);

    std::vector<std::string> w = words(line);
    std::vector<size_t> secrets = secretWords(w);
    if (secrets.empty()) {  // other lines are left exactly as typed
        FUZZ_CHECK(result == 0 && after == line);
        return;
    }
    std::string expected = joined(w, secrets);
    if (expected.size() > kCmdbuffRoom - 1) {
        FUZZ_CHECK(result == -1 && after == line);
        return;
    }
    FUZZ_CHECK(result == 0 && after == expected);
}

// What "api", "sys" and "kbox" send of the words they were given.
void checkJoin(const std::string &line) {
    std::vector<char> copy(line.begin(), line.end());
    copy.push_back('\0');
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(copy.data(), &argc, argv) != 0 || argc == 0) return;
    std::vector<std::string> w(argv, argv + argc);
    auto out = std::make_unique<char[]>(kCmdbuffRoom);
    strcpy(out.get(), "untouched");
    int result = join_encoding_secrets(out.get(), argc, argv);
    std::string expected = joined(w, secretWords(w));
    if (expected.size() > kCmdbuffRoom - 1) {
        FUZZ_CHECK(result == -1 && strcmp(out.get(), "untouched") == 0);
    } else {
        FUZZ_CHECK(result == 0 && expected == out.get());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    vela::fuzz::silenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    std::string line = input.until('\0');
    if (line.size() > kCmdbuffRoom - 1) line.resize(kCmdbuffRoom - 1);
    checkPreProcess(line);
    checkJoin(line);
    return 0;
}
