// Ring of the last 64 command lines.
#pragma once

namespace cle::history {

inline constexpr int kSlots = 64;

// Records an owned copy; 0, 1 when the command filter left it out, -1 for null.
int add(const char *line);
// The line in a slot, or null (also for a slot outside 0-63). Owned by the ring.
const char *slot(int index);
int size();
int start();
// Replaces the newest entry with a copy; -1 for null or an empty ring.
int replace_last_entry(const char *replacement);
// Sets the command filter and returns its previous setting.
int command_filter(int x);
// The entry recorded age lines before the newest (0: the newest), or null.
const char *by_age(int age);
// Releases every entry and leaves the ring empty.
void clear();

}  // namespace cle::history
