// parse_config_answer on arbitrary tool answers, names and buffer sizes: the value fits
// its buffer, loses only line ends at its end, and is the text after the exact prefix.
#include <vector>

#include "FuzzInput.h"
#include "config_access.h"

namespace {

// The buffer sizes the shell passes, and a few more.
constexpr int kSizes[] = {1, 2, 3, 16, 64, 256, 2048, 2200};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vela::fuzz::FuzzInput input(data, size);
    const int room = kSizes[input.below(sizeof kSizes / sizeof kSizes[0])];
    const std::string name = input.text('\n', 260);  // names are the shell's own, and short
    std::string answer = input.rest();
    if (answer.size() > 2127) answer.resize(2127);  // the tool's first line as read

    std::vector<char> value(static_cast<size_t>(room), 'q');
    const int result = parse_config_answer(name.c_str(), answer.c_str(), value.data(), room);
    const std::string got(value.data(), strnlen(value.data(), value.size()));
    FUZZ_CHECK(got.size() < value.size());

    const std::string prefix = "config " + name + " 0 ";
    const std::string text = answer.c_str();  // the answer as a C string
    if (text.compare(0, prefix.size(), prefix) != 0) {
        FUZZ_CHECK(result == 1 && got.empty());
        return 0;
    }
    std::string expected = text.substr(prefix.size(), value.size() - 1);
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r'))
        expected.pop_back();
    FUZZ_CHECK(result == 0 && got == expected);
    return 0;
}
