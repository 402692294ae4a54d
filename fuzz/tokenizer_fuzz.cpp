// tokenizeString, findDelimiter and make_normalized_string on arbitrary lines.
// Arguments stay inside the line, there are at most 40, and joining them never needs
// more room than the line had: the callers size their buffers on that.
#include <string>

#include "FuzzInput.h"
#include "command_parsing.h"

// The line is held as the callers hold it: in a buffer of exactly its size.
static void checkTokenizer(const std::string &text) {
    auto line = vela::fuzz::cString(text, text.size() + 1);
    const auto inside = [&](const char *p) { return p >= line.get() && p <= &line[text.size()]; };
    auto argv = std::make_unique<char *[]>(MAX_ARGS);  // exactly the room callers give
    int argc = -7;
    const int result = tokenizeString(line.get(), &argc, argv.get());
    // Only a quoted argument ending in a lone backslash fails; a comment (its first
    // non-blank is "#") leaves argc alone.
    FUZZ_CHECK(result == 0 || (result == -1 && text.find('\\') != std::string::npos));
    const size_t first = text.find_first_not_of(" \t");
    FUZZ_CHECK(result != 0 || argc != -7 || (first != std::string::npos && text[first] == '#'));
    if (result != 0 || argc == -7) return;
    FUZZ_CHECK(argc >= 1 && argc <= MAX_ARGS);
    size_t joined_len = static_cast<size_t>(argc) - 1;  // the blanks between
    for (int i = 0; i < MAX_ARGS; ++i) {
        FUZZ_CHECK((i < argc) == (argv[i] != nullptr));
        if (i >= argc) continue;
        joined_len += strlen(argv[i]);
        FUZZ_CHECK(inside(argv[i]) && inside(argv[i] + strlen(argv[i])));
    }
    // Callers join arguments into a buffer as large as the line they tokenized.
    FUZZ_CHECK(joined_len <= text.size());
    auto joined = std::make_unique<char[]>(text.size() + 1);
    make_normalized_string(joined.get(), argc, argv.get());
    FUZZ_CHECK(strlen(joined.get()) == joined_len);
    const int state = get_bool_parm(argc, argv.get(), text.size() & 1);
    FUZZ_CHECK(state == -1 || state == 0 || state == 1);
}

static void checkFindDelimiter(const std::string &text) {
    auto line = vela::fuzz::cString(text, text.size() + 1);
    const char *end = findDelimiter(line.get());
    if (end == nullptr) return FUZZ_CHECK(text.find('\\') != std::string::npos);
    // The argument ends at a closing quote, or at the end of the line.
    const ptrdiff_t at = end - line.get();
    FUZZ_CHECK(at == static_cast<ptrdiff_t>(text.size()) ||
               (at > 0 && at < static_cast<ptrdiff_t>(text.size()) && text[at - 1] == '"'));
    FUZZ_CHECK(strlen(line.get()) <= static_cast<size_t>(at));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text = vela::fuzz::FuzzInput(data, size).text('\0');
    checkTokenizer(text);
    checkFindDelimiter(text);
    return 0;
}
