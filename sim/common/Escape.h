// One-line escaping of arbitrary bytes for the simulated device's record files.
#ifndef SIM_ESCAPE_H
#define SIM_ESCAPE_H

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// Backslash and bytes below 0x20 become \\ \n \r \t or \xNN; everything else is kept.
// Returns a new string owned by the caller; any thread.
std::string escape(std::string_view bytes);

// Reverses escape(); also accepts \0 and \". nullopt on a malformed escape.
// Returns a new string owned by the caller; any thread.
std::optional<std::string> unescape(std::string_view text);

}  // namespace sim

#endif
