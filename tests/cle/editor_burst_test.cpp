// Keys that arrive together (a paste, a fast typist): each burst is handled under one
// hold of the output lock and echoed exactly as key by key. The keys come through a pipe,
// so that every type() is one burst.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "pty_session.h"

namespace cle_test {
namespace {

PtyOptions piped(std::vector<std::string> args) {
    PtyOptions o{std::move(args)};
    o.args.push_back("--callbacks");
    o.piped_input = true;
    return o;
}

// Echo of inserting n times 'y' at the start of 400 'x' (no prompt, no wrap): each insert
// redraws the tail and puts the cursor back.
std::string inserts_before_tail(int n) {
    std::string echo;
    for (int k = 1; k <= n; ++k)
        echo += "y" + std::string(400, 'x') + "\r\x1b[" + std::to_string(k) + "C";
    return echo;
}

// Each step is one burst and the echo up to the release of the lock that follows it; a
// step without keys takes the echo through the next release (a further line of a burst).
TEST(EditorBursts, OneHoldOfTheLockPerBurstAndTheEchoOfEveryKey) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        unsigned short cols;
        std::vector<Step> steps;
        std::vector<std::string> lines;  // returned; every call but the last with 0
        int last_rc, locks;
    };
    // clang-format off
    const Case cases[] = {
        {"edits", {"--prompt", "> "}, 80,
         {{"", "> "},
          {"abc\x02X\x1b[D\x06\x7f\x01\x05",
           "abc\bXc\r\x1b[5C\b\x1b[1C\b\x1b[Jc\r\x1b[4C\r\x1b[2C\r> abc"},
          {"\r", "\r\n"}},
         {"abc"}, 0, 3},
        {"line ends inside a burst", {"--calls", "3"}, 80,
         {{"ab\rcd\ref", "ab\r\n"}, {"", "cd\r\n"}, {"", "ef"}, {"g\r", "g\r\n"}},
         {"ab", "cd", "efg"}, 0, 4},
        {"Ctrl-D inside a burst", {"--calls", "2"}, 80,
         {{"ab\x04" "cd\r", "ab"}},
         {"ab"}, -1, 1},
        {"echo off: only the prompt", {"--echo-off", "--prompt", "p> "}, 80,
         {{"", "p> "}, {"ab\x02X\x1b[D\r", ""}},
         {"aXb"}, 0, 2},
        {"wrapping at the margin", {"--prompt", "> "}, 10,
         {{"", "> "},
          {"abcdefghij\x7f\x7f\x7f",  // the last one goes back to the row above
           "abcdefgh \bij\b\x1b[J\b\x1b[J\r\x1b[1A\x1b[9C\x1b[J"},
          {"\r", "\r\n"}},
         {"abcdefg"}, 0, 3},
        {"a line full in the middle of a burst", {"--max", "4"}, 80,
         {{"abcde\x02x\r", "abc\a\a\b\a\r\n"}},
         {"abc"}, 0, 1},
        {"an echo larger than the editor's buffer", {}, 1000,
         {{std::string(400, 'x') + "\x01" + std::string(100, 'y'),
           std::string(400, 'x') + "\r" + inserts_before_tail(100)},
          {"\r", "\r\n"}},
         {std::string(100, 'y') + std::string(400, 'x')}, 0, 2},
    };
    // clang-format on
    for (const Case &c : cases) {
        for (const bool printer : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (printer ? ", with a background printer" : ""));
            PtyOptions o = piped(c.args);
            o.cols = c.cols;
            if (printer) o.args.push_back("--bg-printer");
            auto s = start(o);
            run_steps(*s, c.steps);
            Report r;
            for (size_t i = 0; i < c.lines.size(); ++i) {
                r = s->report();
                expect_line(r, i + 1 < c.lines.size() ? 0 : c.last_rc, c.lines[i]);
            }
            EXPECT_EQ(r.num("locks"), c.locks) << r.text;
        }
    }
}

// The editor writes its echo itself; what the caller printed through stdio before the
// call must still come first.
TEST(EditorBursts, EchoComesAfterWhatTheCallerLeftInStdio) {
    auto s = start(piped({"--calls", "2", "--print-after", "[after]"}));
    EXPECT_EQ(s->key("ab\rcd\r"), "ab\r\n");
    EXPECT_EQ(s->echo_through(2), "[after]cd\r\n");
    expect_line(s->report(), 0, "ab");
    expect_line(s->report(), 0, "cd");
}

// A sequence cut between bursts: the echo so far goes out before the editor waits, the
// lock is held through every wait, and each wait has the whole limit for itself.
TEST(EditorBursts, EachWaitInsideAHeldSequenceHasItsOwnLimit) {
    const std::chrono::milliseconds minute(CLE_FASTCLOCK_MINUTE_MS);
    PtyOptions o = piped({"--import"});
    o.fastclock = true;
    auto s = start(o);
    s->type("a\x1b");
    EXPECT_EQ(s->echo_bytes(1), "a");
    for (const char *rest : {"[", "1"}) {  // 1.8 limits in all, 0.6 at a time
        std::this_thread::sleep_for(minute * 6 / 10);
        s->type(rest);
    }
    std::this_thread::sleep_for(minute * 6 / 10);
    s->type("~b\r");
    const Report r = s->report();
    expect_line(r, 0, "ba");
    EXPECT_EQ(r.num("import"), 0);
    EXPECT_EQ(r.num("locks"), 1);
    EXPECT_EQ(s->echo_through(1), "\rba\r\x1b[1C\r\n");
}

}  // namespace
}  // namespace cle_test
