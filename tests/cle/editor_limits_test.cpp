// Idle and import time limits, the typing report and the lock pairing, on the editor
// built with a short minute.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "pty_session.h"

namespace cle_test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kMinute(CLE_FASTCLOCK_MINUTE_MS);

std::unique_ptr<PtySession> start_fast(std::vector<std::string> args) {
    PtyOptions o{std::move(args)};
    o.args.push_back("--callbacks");
    o.fastclock = true;
    return start(o);
}

// Minutes (of the short clock) since t.
double minutes_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t) / std::chrono::duration<double>(kMinute);
}

TEST(EditorLimits, TypingReportSequence) {
    // Emptying the line reports nothing.
    const std::pair<const char *, const char *> calls[] = {
        {"ab\r", "10"}, {"a\177b\r", "10"}, {"\r", "0"}, {"a\003\177b\003\r", "10"}};
    auto s = start({{"--callbacks", "--calls", "4"}});
    for (const auto &[typed, typing] : calls) {
        s->type(typed);
        EXPECT_EQ(s->report().fields.at("typing"), typing) << testing::PrintToString(typed);
    }
}

TEST(EditorLimits, IdleLimitEndsTheCallAndEachByteRestartsIt) {
    auto s = start_fast({"--idle", "1"});
    const auto t0 = Clock::now();
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(kMinute / 2);
        s->type("a");
    }
    const Report r = s->report();
    expect_line(r, -1, "aaa");
    EXPECT_GT(minutes_since(t0), 2.4);
    EXPECT_LT(minutes_since(t0), 4.0);
    EXPECT_EQ(r.num("session"), -1);
    EXPECT_EQ(r.num("import"), 0);
    EXPECT_EQ(r.num("canon"), 0);  // only Ctrl-D restores the modes
}

TEST(EditorLimits, NoIdleLimitWaitsForEver) {
    auto s = start_fast({"--idle", "0"});
    std::this_thread::sleep_for(kMinute * 3 / 2);
    s->type("x\r");
    const Report r = s->report();
    expect_line(r, 0, "x");
    EXPECT_EQ(r.num("session"), 0);
    auto huge = start({{"--idle", "2147483647"}});  // its deadline must not overflow
    huge->type("y\r");
    expect_line(huge->report(), 0, "y");
}

TEST(EditorLimits, ImportExpiryThenTheRestOfTheIdleLimit) {
    // The driver, like the shell, ends the import after its expiry and calls again.
    auto s = start_fast({"--idle", "2", "--import", "--calls", "2"});
    const auto t0 = Clock::now();
    const Report first = s->report();
    expect_line(first, -1, "");
    EXPECT_EQ(first.num("import"), -1);
    EXPECT_EQ(first.num("session"), 0);
    EXPECT_GT(minutes_since(t0), 0.9);
    const auto t1 = Clock::now();
    const Report second = s->report();  // the idle limit, less the minute spent
    expect_line(second, -1, "");
    EXPECT_GT(minutes_since(t1), 0.9);
    EXPECT_LT(minutes_since(t1), 1.8);
    EXPECT_EQ(second.num("import"), 0);
    EXPECT_EQ(second.num("session"), -1);
}

TEST(EditorLimits, ImportFlagClearsAtTheNextWaitAndAbandonedTypingIsNotReportedAgain) {
    auto s = start_fast({"--idle", "0", "--import", "--calls", "2"});
    s->type("a");
    const Report first = s->report();
    expect_line(first, -1, "a");
    EXPECT_EQ(first.fields.at("typing"), "1");
    s->type("b\r");
    const Report second = s->report();
    expect_line(second, 0, "b");
    EXPECT_EQ(second.num("import"), 0);
    EXPECT_EQ(second.num("session"), 0);
    EXPECT_EQ(second.fields.at("typing"), "0");
}

TEST(EditorLimits, ExpiryInsideAnEscapeSequenceAbandonsOnlyTheSequence) {
    auto s = start_fast({"--idle", "1"});
    s->type("a\x1b");
    std::this_thread::sleep_for(kMinute * 3 / 2);
    s->type("b\r");
    const Report r = s->report();
    expect_line(r, 0, "ab");
    EXPECT_EQ(r.num("session"), -1);  // set for good, though the call went on
}

}  // namespace
}  // namespace cle_test
