// Bad input: whatever bytes arrive, the line holds only printable characters within its
// room, the lock is never left held, and the terminal ends up as it was found.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "pty_session.h"

namespace cle_test {
namespace {

void expect_sane(const Report &r, size_t room) {
    const std::string line = r.line();
    EXPECT_LE(line.size(), room) << r.text;
    EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) {
        return c >= 0x20 && c <= 0x7e;
    })) << r.text;
    expect_line(r, r.num("rc"), line);  // for the lock bookkeeping
}

TEST(EditorRobustness, RandomBytes) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        PtyOptions o{{"--callbacks", "--max", "24", "--calls", "100000", "--prompt", "p%s> "}};
        o.cols = 12;
        o.icrnl = seed % 2 == 0;
        auto s = start(o);
        std::string bytes;
        const char *pieces[] = {"\x1b",   "\x1b[",  "\x1bO", "\x1b[1", "\x1b[3~",
                                "\x1b[A", "\x1b[B", "\r",    "\x7f"};
        while (bytes.size() < 20000) {
            const unsigned char b = static_cast<unsigned char>(rng());
            if (rng() % 4 == 0) bytes += pieces[rng() % 9];
            // Ctrl-D would end the run, Ctrl-S would stop the terminal's output.
            else if (b != 0x04 && b != 0x13)
                bytes += static_cast<char>(b);
        }
        s->type(bytes + "\x04");
        for (;;) {
            const Report r = s->report();
            ASSERT_EQ(r.tag, 'R') << r.text;
            expect_sane(r, 23);
            if (r.num("rc") != 0) break;
        }
        EXPECT_EQ(s->report().text, "C 0");
        expect_restored(*s);
    }
}

TEST(EditorRobustness, TenThousandBytesWithoutEnter) {
    auto s = start({{"--callbacks"}});
    std::string bytes;
    for (int i = 0; i < 10000; ++i)
        bytes += static_cast<char>('0' + i % 10);
    s->type(bytes + "\r");
    const Report r = s->report();
    expect_sane(r, 510);
    EXPECT_EQ(r.line(), bytes.substr(0, 510));
    const std::string echo = s->echo_through(r.num("unlocks"));
    EXPECT_EQ(std::count(echo.begin(), echo.end(), '\a'), 10000 - 510);
    EXPECT_EQ(echo.substr(0, 80), bytes.substr(0, 80));
}

TEST(EditorRobustness, SmallestRoom) {
    auto s = start({{"--callbacks", "--max", "1"}});
    s->type("ab\x1b[D\r");
    const Report r = s->report();
    expect_line(r, 0, "");
    EXPECT_EQ(s->echo_through(r.num("unlocks")), "\a\a\n");
    auto none = start({{"--callbacks", "--max", "0"}});
    EXPECT_EQ(none->report().fields.at("rc"), "-1");
}

TEST(EditorRobustness, EndOfInputInsideASequence) {
    for (const char *tail : {"\x1b", "\x1b[", "\x1bO", "\x1b[1", "\x1bx\x1b[3"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(tail)));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        PtyOptions o{{"--callbacks", "--input-fd", "4"}};
        o.input_fd = fds[0];
        auto s = start(o);
        close(fds[0]);
        const std::string bytes = std::string("ab") + tail;
        ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fds[1]);
        const Report r = s->report();
        expect_line(r, -1, "ab");
        EXPECT_EQ(r.fields.at("typing"), "1");
        EXPECT_EQ(s->report().text, "C 0");
    }
}

TEST(EditorRobustness, HangUpEndsTheCall) {
    auto s = start({{"--callbacks", "--ignore-hup"}});
    s->key("a");
    s->key("\x1b[D");
    s->hang_up();
    const Report r = s->report();
    expect_line(r, -1, "a");
    EXPECT_EQ(s->report().text, "C 0");
    EXPECT_EQ(s->wait_exit(), 0);
}

TEST(EditorRobustness, ResizeChangesTheWidthOfTheNextEdit) {
    auto s = start({{"--callbacks"}});
    s->key("a");
    struct winsize ws {};
    ws.ws_col = 4;
    ws.ws_row = 24;
    // The signal reaches the driver before the next key does: its wait is interrupted and
    // the handler runs before the key is read.
    ASSERT_EQ(ioctl(s->master(), TIOCSWINSZ, &ws), 0);
    EXPECT_EQ(s->key("b"), "b");
    EXPECT_EQ(s->key("c"), "c");
    EXPECT_EQ(s->key("d"), "d \b");  // the margin is now at 4 columns
}

}  // namespace
}  // namespace cle_test
