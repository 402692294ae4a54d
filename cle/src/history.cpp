// Ring of the last 64 command lines: slots 0-63 filled from slot 0, wrapping to 0 after
// 63; history_pos names the oldest entry, the newest is in the slot before history_index.
#include "history.h"

#include <array>
#include <string_view>

#include "text.h"

namespace cle::history {
namespace {

// Guard for all of the ring: main thread only (the editor and the shell's history
// commands both run there).
std::array<Text, kSlots> command_history;
int history_index = 0;       // slot for the next line
int history_pos = 0;         // slot of the oldest entry
int history_size = 0;        // entries held, 0-64
int history_cmd_filter = 1;  // leave out lines that carry secrets

// Commands whose arguments are passwords: never kept for listing or recall.
constexpr std::array<std::string_view, 2> kSecretCommands{"setpassword", "webmonitoring"};

int decr_circular(int x) {
    if (x > 0) return x - 1;
    return history_size == kSlots ? kSlots - 1 : 0;
}

std::string_view first_word(std::string_view line) {
    const auto begin = line.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    line.remove_prefix(begin);
    return line.substr(0, line.find_first_of(" \t"));
}

bool filtered_out(const char *line) {
    if (history_cmd_filter == 0) return false;
    const std::string_view word = first_word(line);
    for (const auto secret : kSecretCommands) {
        if (word == secret) return true;
    }
    return false;
}

}  // namespace

int add(const char *line) {
    if (line == nullptr) return -1;
    if (filtered_out(line)) return 1;
    // Reusing the slot's room keeps a full ring from allocating for every line.
    if (!command_history[history_index].assign(line)) return -1;
    history_index = (history_index + 1) % kSlots;
    if (history_size < kSlots) {
        ++history_size;
    } else {
        history_pos = history_index;
    }
    return 0;
}

const char *slot(int index) {
    if (index < 0 || index >= kSlots || !command_history[index].held()) return nullptr;
    return command_history[index].c_str();
}

int size() {
    return history_size;
}
int start() {
    return history_pos;
}

int replace_last_entry(const char *replacement) {
    if (replacement == nullptr || history_size == 0) return -1;
    // The replacement may be the entry's own text: assign copies before letting it go.
    return command_history[decr_circular(history_index)].assign(replacement) ? 0 : -1;
}

int command_filter(int x) {
    const int previous = history_cmd_filter;
    history_cmd_filter = x != 0 ? 1 : 0;
    return previous;
}

const char *by_age(int age) {
    if (age < 0 || age >= history_size) return nullptr;
    return slot((history_index - 1 - age + kSlots) % kSlots);
}

void clear() {
    for (auto &entry : command_history)
        entry.release();
    history_index = 0;
    history_pos = 0;
    history_size = 0;
}

}  // namespace cle::history
