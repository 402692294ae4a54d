// tokenizeString, findDelimiter and make_normalized_string on arbitrary lines.
// Arguments stay inside the line, there are at most 40, and joining them never needs
// more room than the line had: the callers size their buffers on that.
#include <string.h>

#include <memory>
#include <string>

#include "FuzzInput.h"
#include "command_parsing.h"

using vela::fuzz::FuzzInput;

namespace {

// The line as the callers hold it: NUL-terminated, cut at an embedded NUL.
std::unique_ptr<char[]> lineCopy(const std::string &text, size_t &len) {
    len = strnlen(text.data(), text.size());
    auto line = std::make_unique<char[]>(len + 1);
    memcpy(line.get(), text.data(), len);
    line[len] = '\0';
    return line;
}

bool inside(const char *p, const char *begin, size_t len) {
    return p >= begin && p <= begin + len;
}

void checkTokenizer(const std::string &text) {
    size_t len = 0;
    auto line = lineCopy(text, len);
    auto argv = std::make_unique<char *[]>(MAX_ARGS);  // exactly the room callers give
    int argc = -7;
    int result = tokenizeString(line.get(), &argc, argv.get());
    FUZZ_CHECK(result == 0 || result == -1);
    if (result == -1) {
        FUZZ_CHECK(memchr(text.data(), '\\', len) != nullptr);
        return;
    }
    if (argc == -7) {  // a comment: the first non-blank is "#"
        size_t first = strspn(text.c_str(), " \t");
        FUZZ_CHECK(first < len && text[first] == '#');
        return;
    }
    FUZZ_CHECK(argc >= 1 && argc <= MAX_ARGS);
    size_t joined_len = 0;
    for (int i = 0; i < argc; ++i) {
        FUZZ_CHECK(argv[i] != nullptr && inside(argv[i], line.get(), len));
        size_t arg_len = strlen(argv[i]);
        FUZZ_CHECK(inside(argv[i] + arg_len, line.get(), len));
        joined_len += arg_len + (i > 0 ? 1 : 0);
    }
    for (int i = argc; i < MAX_ARGS; ++i)
        FUZZ_CHECK(argv[i] == nullptr);
    // Callers join arguments into a buffer as large as the line they tokenized.
    FUZZ_CHECK(joined_len <= len);
    auto joined = std::make_unique<char[]>(len + 1);
    make_normalized_string(joined.get(), argc, argv.get());
    FUZZ_CHECK(strlen(joined.get()) == joined_len);

    int state = get_bool_parm(argc, argv.get(), text.size() & 1);
    FUZZ_CHECK(state == -1 || state == 0 || state == 1);
}

void checkFindDelimiter(const std::string &text) {
    size_t len = 0;
    auto line = lineCopy(text, len);
    char *end = findDelimiter(line.get());
    if (end == nullptr) {
        FUZZ_CHECK(memchr(text.data(), '\\', len) != nullptr);
        return;
    }
    FUZZ_CHECK(inside(end, line.get(), len));
    // The argument ends at a closing quote, or at the end of the line.
    FUZZ_CHECK(end == line.get() + len || (end > line.get() && text[end - line.get() - 1] == '"'));
    FUZZ_CHECK(strlen(line.get()) <= static_cast<size_t>(end - line.get()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    std::string text = input.rest();
    checkTokenizer(text);
    checkFindDelimiter(text);
    return 0;
}
