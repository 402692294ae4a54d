// parse_config_answer on arbitrary tool answers, names and buffer sizes: the value fits
// its buffer, loses only line ends at its end, and is the text after the exact prefix.
#include <string.h>

#include <memory>
#include <string>

#include "FuzzInput.h"
#include "config_access.h"

using vela::fuzz::FuzzInput;

namespace {

// The buffer sizes the shell passes, and a few more.
constexpr int kSizes[] = {1, 2, 3, 16, 64, 256, 2048, 2200};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    int room = kSizes[input.below(sizeof kSizes / sizeof kSizes[0])];
    std::string name = input.until('\n');
    name.resize(strnlen(name.c_str(), name.size()));
    if (name.size() > 260) name.resize(260);  // names are the shell's own, and short
    std::string answer = input.rest();
    if (answer.size() > 2127) answer.resize(2127);  // the tool's first line as read

    auto value = std::make_unique<char[]>(static_cast<size_t>(room));
    memset(value.get(), 'q', static_cast<size_t>(room));
    int result = parse_config_answer(name.c_str(), answer.c_str(), value.get(), room);
    std::string got(value.get(), strnlen(value.get(), static_cast<size_t>(room)));
    FUZZ_CHECK(got.size() < static_cast<size_t>(room));

    const std::string prefix = "config " + name + " 0 ";
    std::string text = answer.c_str();  // the answer as a C string
    if (text.compare(0, prefix.size(), prefix) != 0) {
        FUZZ_CHECK(result == 1 && got.empty());
        return 0;
    }
    FUZZ_CHECK(result == 0);
    std::string after = text.substr(prefix.size());
    std::string expected = after.substr(0, static_cast<size_t>(room) - 1);
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r'))
        expected.pop_back();
    FUZZ_CHECK(got == expected);
    return 0;
}
