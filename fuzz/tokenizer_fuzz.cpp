// tokenizeString, findDelimiter and make_normalized_string on arbitrary lines.
// Arguments stay inside the line, there are at most 40, and joining them never needs
// more room than the line had: the callers size their buffers on that.
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "command_parsing.h"

namespace {

// The line as the callers hold it: NUL-terminated, in a buffer of exactly that size.
std::unique_ptr<char[]> lineCopy(const std::string &text) {
    auto line = std::make_unique<char[]>(text.size() + 1);
    memcpy(line.get(), text.c_str(), text.size() + 1);
    return line;
}

bool inside(const char *p, const char *begin, size_t len) {
    return p >= begin && p <= begin + len;
}

void checkTokenizer(const std::string &text) {
    auto line = lineCopy(text);
    auto argv = std::make_unique<char *[]>(MAX_ARGS);  // exactly the room callers give
    int argc = -7;
    int result = tokenizeString(line.get(), &argc, argv.get());
    FUZZ_CHECK(result == 0 || result == -1);
    if (result == -1) {
        FUZZ_CHECK(text.find('\\') != std::string::npos);
        return;
    }
    if (argc == -7) {  // a comment: the first non-blank is "#"
        size_t first = text.find_first_not_of(" \t");
        FUZZ_CHECK(first != std::string::npos && text[first] == '#');
        return;
    }
    FUZZ_CHECK(argc >= 1 && argc <= MAX_ARGS);
    size_t joined_len = 0;
    for (int i = 0; i < argc; ++i) {
        FUZZ_CHECK(argv[i] != nullptr && inside(argv[i], line.get(), text.size()));
        size_t arg_len = strlen(argv[i]);
        FUZZ_CHECK(inside(argv[i] + arg_len, line.get(), text.size()));
        joined_len += arg_len + (i > 0 ? 1 : 0);
    }
    for (int i = argc; i < MAX_ARGS; ++i)
        FUZZ_CHECK(argv[i] == nullptr);
    // Callers join arguments into a buffer as large as the line they tokenized.
    FUZZ_CHECK(joined_len <= text.size());
    auto joined = std::make_unique<char[]>(text.size() + 1);
    make_normalized_string(joined.get(), argc, argv.get());
    FUZZ_CHECK(strlen(joined.get()) == joined_len);

    int state = get_bool_parm(argc, argv.get(), text.size() & 1);
    FUZZ_CHECK(state == -1 || state == 0 || state == 1);
}

void checkFindDelimiter(const std::string &text) {
    auto line = lineCopy(text);
    char *end = findDelimiter(line.get());
    if (end == nullptr) {
        FUZZ_CHECK(text.find('\\') != std::string::npos);
        return;
    }
    FUZZ_CHECK(inside(end, line.get(), text.size()));
    // The argument ends at a closing quote, or at the end of the line.
    FUZZ_CHECK(end == line.get() + text.size() ||
               (end > line.get() && text[end - line.get() - 1] == '"'));
    FUZZ_CHECK(strlen(line.get()) <= static_cast<size_t>(end - line.get()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text = vela::fuzz::FuzzInput(data, size).text('\0');
    checkTokenizer(text);
    checkFindDelimiter(text);
    return 0;
}
