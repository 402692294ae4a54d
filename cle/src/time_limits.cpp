// Time limits on waiting for a key. The length of a minute is fixed when the library is
// built (CLE_MINUTE_MS), so that a test build can use a short one; the product has no
// runtime switch for it.
#include "time_limits.h"

#include <cstdint>

#ifndef CLE_MINUTE_MS
#define CLE_MINUTE_MS 60000
#endif

namespace cle::limits {
namespace {

static_assert(CLE_MINUTE_MS > 0, "a minute must last");

// Guard for all four: main thread only (set by the shell between editor calls, read
// and written by the editor's waits).
int gIdolTimeout = 0;         // idle limit in minutes; 0 or less: none
int gTimedOut = 0;            // -1 once the idle limit expired; never cleared
int gImportTimedOut = 0;      // -1 after the import limit expired, until the next wait
int gImport_in_progress = 0;  // non-zero while the caller imports a pasted file

std::chrono::milliseconds minutes(std::int64_t n) {
    // A negative remainder (import left marked after its expiry, no idle limit) expires
    // at once rather than waiting for ever.
    if (n < 0) n = 0;
    // Some 30 years at most, so that a deadline on the clock cannot overflow.
    if (n > (std::int64_t{1} << 24)) n = std::int64_t{1} << 24;
    return std::chrono::milliseconds(n * static_cast<std::int64_t>(CLE_MINUTE_MS));
}

}  // namespace

void set_idle_minutes(int m) {
    gIdolTimeout = m;
}
void set_import_state(int state) {
    gImport_in_progress = state;
}
int did_session_timeout() {
    return gTimedOut;
}
int did_import_timeout() {
    return gImportTimedOut;
}

std::optional<std::chrono::milliseconds> begin_wait() {
    const bool applies = gIdolTimeout > 0 || gImport_in_progress != 0;
    const bool after_import_expiry = gImportTimedOut != 0;
    gImportTimedOut = 0;
    if (!applies) return std::nullopt;
    // After an import expiry the idle limit goes on, less the minute already spent.
    if (after_import_expiry) return minutes(static_cast<std::int64_t>(gIdolTimeout) - 1);
    if (gImport_in_progress != 0) return minutes(1);
    return minutes(gIdolTimeout);
}

void wait_expired() {
    if (gImport_in_progress != 0) {
        gImportTimedOut = -1;
    } else {
        gTimedOut = -1;
    }
}

}  // namespace cle::limits
