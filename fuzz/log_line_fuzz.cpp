// The live log's line format with random show and cull filters and layouts, set through the
// commands a user types: a line is shown when the filters say so, laid out from its
// own fields, and never longer than it was.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "log_monitor.h"
#include "session.h"

using vela::fuzz::FuzzInput;

namespace {

Session *g_session;  // the fuzzer's one session; its filters change with every input
LoopState g_loop;

constexpr size_t kShownRoom = 1025;  // the monitor's line buffer
constexpr size_t kMessageStart = 20;

using Handler = void (*)(CommandContext &, int, char **);

// Runs a command handler with these words as its argument vector.
void command(Handler handler, std::vector<std::string> words) {
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    CommandContext context{*g_session, g_loop};
    handler(context, static_cast<int>(argv.size()), argv.data());
}

bool anyIn(const std::vector<std::string> &filters, const std::string &text) {
    for (const auto &f : filters)
        if (text.find(f) != std::string::npos) return true;
    return false;
}

// Empties a filter table with its command ("show" or "cull"), then adds up to 12 texts
// from the input; returns what the table must hold.
std::vector<std::string> setFilters(Handler handler, const char *word, FuzzInput &input) {
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    vela::fuzz::silenceStdout();
    static Session session;
    session.output.create_mutex();
    g_session = &session;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    unsigned layout = input.byte();
    std::vector<std::string> format = {"format"};
    const char *const fields[] = {"date", "time", "level", "Date"};
    for (unsigned bit = 0; bit < 4; ++bit)
        if (layout & (1u << bit)) format.push_back(fields[bit]);
    command(log_format_cmd, format);

    const std::vector<std::string> show = setFilters(log_show_cmd, "show", input),
                                   cull = setFilters(log_cull_cmd, "cull", input);
    const std::string line = input.text('\0', kShownRoom - 1);  // one datagram

    auto shown = std::make_unique<char[]>(kShownRoom);
    bool printed;
    {
        OutputGuard guard(g_session->output);
        printed = g_session->monitor.format_line(guard, line.c_str(), shown.get(), kShownRoom);
    }
    std::string out = printed ? shown.get() : "";
    if (line.size() <= 24) {
        FUZZ_CHECK(printed && out == line);
        return 0;
    }
    std::string text = line.substr(kMessageStart);
    bool wanted = (show.empty() || anyIn(show, text)) && !anyIn(cull, text);
    FUZZ_CHECK(printed == wanted);
    if (!printed) return 0;
    std::string expected;
    if (layout & 1) expected += line.substr(0, 11);
    if (layout & 2) expected += line.substr(11, 9);
    if (layout & 4) {
        expected += text;
    } else {
        size_t space = text.find(' ');
        if (space != std::string::npos) expected += text.substr(space + 1);
    }
    if ((layout & 7) == 7) expected = line;
    FUZZ_CHECK(out == expected);
    return 0;
}
