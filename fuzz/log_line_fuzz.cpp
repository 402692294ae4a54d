// The live log's line format with random show and cull filters and layouts, set through the
// commands a user types: a line is shown when the filters say so, laid out from its
// own fields, and never longer than it was.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "log_monitor.h"
#include "session.h"

using vela::fuzz::FuzzInput;

static Session *g_session;  // the fuzzer's one session; its filters change with every input
static LoopState g_loop;

constexpr size_t kShownRoom = 1025;  // the monitor's line buffer
constexpr size_t kMessageStart = 20;

using Handler = void (*)(CommandContext &, int, char **);

// Runs a command handler with these words as its argument vector.
static void command(Handler handler, std::vector<std::string> words) {
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    CommandContext context{*g_session, g_loop};
    handler(context, static_cast<int>(argv.size()), argv.data());
}

static bool anyIn(const std::vector<std::string> &filters, const std::string &text) {
    return std::any_of(filters.begin(), filters.end(),
                       [&](const std::string &f) { return text.find(f) != std::string::npos; });
}

// Empties a filter table with its command ("show" or "cull"), then adds up to 12 texts
// from the input; returns what the table must hold.
static std::vector<std::string> setFilters(Handler handler, const char *word, FuzzInput &input) {
    std::vector<std::string> add = {word, "add"}, kept;
    for (size_t n = input.below(13); n > 0; --n)
        add.push_back(input.text('\n'));
    command(handler, {word, "del", "*"});
    command(handler, add);
    for (size_t i = 2; i < add.size(); ++i)
        if (!add[i].empty() && add[i].size() < kFilterRoom && kept.size() < kFilterSlots)
            kept.push_back(add[i]);
    return kept;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    static Session session;
    session.output.create_mutex();
    g_session = &session;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    const unsigned layout = input.byte();
    // Words the command does not know (an empty one, "Date") change nothing.
    command(log_format_cmd, {"format", layout & 1 ? "date" : "", layout & 2 ? "time" : "",
                             layout & 4 ? "level" : "", layout & 8 ? "Date" : ""});
    const std::vector<std::string> show = setFilters(log_show_cmd, "show", input),
                                   cull = setFilters(log_cull_cmd, "cull", input);
    const std::string line = input.text('\0', kShownRoom - 1);  // one datagram

    auto shown = std::make_unique<char[]>(kShownRoom);
    OutputGuard guard(g_session->output);
    const bool printed =
        g_session->monitor.format_line(guard, line.c_str(), shown.get(), kShownRoom);
    // Short lines, and lines laid out with all three fields, are shown as they came.
    const bool whole = line.size() <= 24;
    const std::string text = whole ? "" : line.substr(kMessageStart);
    FUZZ_CHECK(printed == (whole || ((show.empty() || anyIn(show, text)) && !anyIn(cull, text))));
    std::string expected = line;
    if (!whole && (layout & 7) != 7) {
        const size_t space = text.find(' ');  // the end of the level word
        expected = (layout & 1 ? line.substr(0, 11) : "") + (layout & 2 ? line.substr(11, 9) : "");
        if (layout & 4)
            expected += text;
        else if (space != std::string::npos)
            expected += text.substr(space + 1);
    }
    FUZZ_CHECK(!printed || expected == shown.get());
    return 0;
}
