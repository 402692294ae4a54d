// Idle and import time limits, on the editor built with a short minute. A slow machine
// may only make the waits longer: the lower bounds hold whatever the load, the one upper
// bound leaves most of a minute to spare, and keys typed between waits only ever come
// sooner than a limit (a stalled test types fewer of them).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "pty_session.h"

namespace cle_test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kMinute(CLE_FASTCLOCK_MINUTE_MS);

// Beside it, an editor without an idle limit waits all that time.
TEST(EditorLimits, IdleLimitEndsTheCallAMinuteAfterTheLastByteAndNoLimitWaitsForEver) {
    std::vector<Clock::time_point> typed = {Clock::now()};  // before the editor waits
    PtySession s({.idle = 1}), unlimited({});
    for (int i = 0; i < 6; ++i) {  // a minute and a half in all
        std::this_thread::sleep_for(kMinute / 4);
        typed.push_back(Clock::now());
        s.type("a");
    }
    const Report r = s.report();
    const size_t taken = r.line.size();
    expect_line(r, -1, std::string(taken, 'a'));
    EXPECT_GE(Clock::now() - typed.at(taken), kMinute);  // each byte restarted the limit
    EXPECT_EQ(std::tuple(r.session, r.import, r.canon), std::tuple(-1, 0, 0));  // modes kept
    unlimited.type("x\r");
    expect_line(unlimited.report(), 0, "x");
}

// The child, like the shell, ends the import after its expiry and calls again.
TEST(EditorLimits, ImportExpiryTheRestOfTheIdleLimitAndTheAbandonedLine) {
    const auto t0 = Clock::now();
    PtySession s({.calls = 3, .idle = 2, .import = true});
    s.type("a");
    const Report first = s.report();  // a minute without a byte while importing
    const auto t1 = Clock::now();
    EXPECT_GE(t1 - t0, kMinute);
    expect_line(first, -1, "a");
    EXPECT_EQ(std::tuple(first.import, first.session, first.typing), std::tuple(-1, 0, "1"));
    const Report second = s.report();  // what is left of the idle limit
    EXPECT_GE(Clock::now() - t0, 2 * kMinute);
    EXPECT_LT(Clock::now() - t1, kMinute * 19 / 10);  // one minute, not two
    expect_line(second, -1, "");
    // The import's flag cleared when the next wait began.
    EXPECT_EQ(std::tuple(second.import, second.session), std::tuple(0, -1));
    s.type("b\r");
    const Report third = s.report();
    expect_line(third, 0, "b");
    // The idle flag set for good; the line abandoned with text in it was reported.
    EXPECT_EQ(std::tuple(third.session, third.typing), std::tuple(-1, "0"));
}

// The lock stays held while a sequence is awaited, the echo so far shown; each of its
// waits has the whole limit, and one that expires abandons only the sequence.
TEST(EditorLimits, WaitsInsideASequence) {
    const auto limit = 2 * kMinute;
    PtySession s({.idle = 2, .piped_keys = true});
    s.type("a\x1b");
    EXPECT_EQ(s.echo_until("a"), "a");
    Clock::time_point typed;
    for (const char *rest : {"[", "1", "~b\x1b"}) {  // longer than the limit in all
        std::this_thread::sleep_for(limit * 7 / 20);
        typed = Clock::now();
        s.type(rest);
    }
    EXPECT_EQ(s.echo_through(1), "\rba\r\x1b[1C");  // released when the last wait expired
    EXPECT_GE(Clock::now() - typed, limit);
    s.type("c\r");
    const Report r = s.report();
    expect_line(r, 0, "bca");
    EXPECT_EQ(std::tuple(r.marks, r.session), std::tuple(2, -1));  // set, though the call went on
}

}  // namespace
}  // namespace cle_test
