// format_log_line with random show and cull filters and layouts, set through the
// commands a user types: a line is shown when the filters say so, laid out from its
// own fields, and never longer than it was.
#include <pthread.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "log_monitor.h"
#include "session.h"

using vela::fuzz::FuzzInput;

namespace {

constexpr size_t kShownRoom = 1025;  // the monitor's line buffer
constexpr size_t kMessageStart = 20;

// Runs a command handler with these words as its argument vector.
void command(void (*handler)(int, char **), std::vector<std::string> words) {
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    handler(static_cast<int>(argv.size()), argv.data());
}

// What the filter table holds after adding these texts to an empty one.
std::vector<std::string> stored(const std::vector<std::string> &added) {
    std::vector<std::string> kept;
    for (const auto &text : added)
        if (!text.empty() && text.size() < kFilterRoom && kept.size() < kFilterSlots)
            kept.push_back(text);
    return kept;
}

bool anyIn(const std::vector<std::string> &filters, const std::string &text) {
    for (const auto &f : filters)
        if (text.find(f) != std::string::npos) return true;
    return false;
}

std::vector<std::string> filterTexts(FuzzInput &input) {
    std::vector<std::string> texts;
    for (size_t n = input.below(13); n > 0; --n) {
        std::string text = input.until('\n');
        texts.push_back(text.substr(0, strnlen(text.c_str(), text.size())));
    }
    return texts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    vela::fuzz::silenceStdout();
    pthread_mutex_init(&async_stdout_mut, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    unsigned layout = input.byte();
    std::vector<std::string> format = {"format"};
    if (layout & 1) format.push_back("date");
    if (layout & 2) format.push_back("time");
    if (layout & 4) format.push_back("level");
    if (layout & 8) format.push_back("Date");
    command(log_format_cmd, format);

    std::vector<std::string> show = filterTexts(input), cull = filterTexts(input);
    command(log_show_cmd, {"show", "del", "*"});
    command(log_cull_cmd, {"cull", "del", "*"});
    std::vector<std::string> add = {"show", "add"};
    add.insert(add.end(), show.begin(), show.end());
    command(log_show_cmd, add);
    add = {"cull", "add"};
    add.insert(add.end(), cull.begin(), cull.end());
    command(log_cull_cmd, add);
    show = stored(show);
    cull = stored(cull);

    std::string line = input.rest();
    line.resize(strnlen(line.c_str(), line.size()));
    if (line.size() > kShownRoom - 1) line.resize(kShownRoom - 1);  // one datagram

    auto shown = std::make_unique<char[]>(kShownRoom);
    bool printed = format_log_line(line.c_str(), shown.get(), kShownRoom);
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
