// parse_config_answer on arbitrary tool answers, names and buffer sizes: the value fits
// its buffer, loses only line ends at its end, and is the text after the exact prefix.
#include <iterator>
#include <vector>

#include "FuzzInput.h"
#include "config_access.h"

// The buffer sizes the shell passes, and a few more.
constexpr int kSizes[] = {1, 2, 3, 16, 64, 256, 2048, 2200};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vela::fuzz::FuzzInput input(data, size);
    std::vector<char> value(static_cast<size_t>(kSizes[input.below(std::size(kSizes))]), 'q');
    const std::string name = input.text('\n', 260);  // names are the shell's own, and short
    const std::string answer = input.rest().substr(0, 2127);  // the tool's first line as read

    const int result = parse_config_answer(name.c_str(), answer.c_str(), value.data(),
                                           static_cast<int>(value.size()));
    const std::string got(value.data(), strnlen(value.data(), value.size()));
    FUZZ_CHECK(got.size() < value.size());
    const std::string prefix = "config " + name + " 0 ", text = answer.c_str();
    // Any other answer gives 1 and an empty value.
    const bool matches = text.rfind(prefix, 0) == 0;
    std::string expected = matches ? text.substr(prefix.size(), value.size() - 1) : "";
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r'))
        expected.pop_back();
    FUZZ_CHECK(result == (matches ? 0 : 1) && got == expected);
    return 0;
}
