// Time limits on waiting for a key: the session's idle limit and the import limit.
#pragma once

#include <chrono>
#include <optional>

namespace cle::limits {

void set_idle_minutes(int minutes);
void set_import_state(int state);
int did_session_timeout();
int did_import_timeout();

// Starts one wait for a byte: the limit that applies to it (none: wait for ever).
// Clears the import-expired flag, as every new wait does.
std::optional<std::chrono::milliseconds> begin_wait();
// The wait begun last expired without input: sets the import or the idle flag.
void wait_expired();

}  // namespace cle::limits
