// The editor's keys, escape sequences and line ends, byte for byte on a real pty, key by
// key and in bursts; the terminal's modes; the end of input; a full terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <climits>
#include <cstring>
#include <thread>
#include <tuple>

#include "cle.h"
#include "pty_session.h"
#include "time_scale.h"

namespace cle_test {
namespace {

// Keys and the exact echo they must produce, up to the release of the lock that ends them.
struct Step {
    std::string keys, echo;
};

// A session: the echo of each step (one without keys takes the echo through the next
// release: the prompt, a further line of a burst, the refresh), then the lines returned,
// every call but the last with 0, and one hold of the lock per step.
struct Scenario {
    const char *name;
    PtyOptions options;
    std::vector<Step> steps;
    std::vector<std::string> lines;
    int last_rc = 0;
    const char *typing = nullptr;  // the typing reports of all calls, when checked
};

// Also with the child's other thread printing: its text may come before an echo, never
// inside it. In bursts, each step's keys reach the editor in one read.
void run(const Scenario &sc, bool bursts) {
    for (const bool printer : {false, true}) {
        // Without callbacks the editor takes no lock, and what the child leaves in stdio's
        // buffer must stay there.
        if (printer && (!sc.options.callbacks || sc.options.print_after != nullptr)) continue;
        SCOPED_TRACE(std::string(sc.name) + (printer ? ", with a background printer" : ""));
        PtyOptions o = sc.options;
        o.bg_printer = printer;
        o.piped_keys = bursts;
        PtySession s(o);
        for (const Step &step : sc.steps) {
            std::string echo = s.key(step.keys);
            while (echo.rfind("<bg>", 0) == 0)
                echo.erase(0, 4);
            EXPECT_EQ(testing::PrintToString(echo), testing::PrintToString(step.echo))
                << "keys " << testing::PrintToString(step.keys);
        }
        std::string typing;
        std::vector<std::string> lines;
        Report r;
        while ((r = s.report()).tag != 'C') {
            const int rc = lines.size() + 1 < sc.lines.size() ? 0 : sc.last_rc;
            EXPECT_EQ(r.rc, r.tag == 'F' ? 1 : rc) << r.text;  // the refresh writes
            EXPECT_EQ(r.errs, 0) << r.text;
            if (r.tag == 'R') lines.push_back(r.line), typing += r.typing;
        }
        EXPECT_EQ(lines, sc.lines);
        EXPECT_EQ(r.marks, static_cast<int>(sc.steps.size())) << r.text;
        EXPECT_TRUE(sc.typing == nullptr || typing == sc.typing) << "typing reports " << typing;
    }
}

// Every key, exactly; the prompt, small rooms and recalled lines. Wrapping on narrow windows
// is left to the screen's random edits.
TEST(EditorKeys, KeyByKey) {
    // clang-format off
    const Scenario scenarios[] = {
        {"every key", {.prompt = "> "},
         {{"", "> "}, {"a", "a"}, {"b", "b"}, {"c", "c"},             // the prompt, then typing
          {"\x02", "\b"}, {"\x1b[D", "\b"}, {"X", "Xbc\r\x1b[4C"},     // left; insert inside
          {"\x06", "\x1b[1C"}, {"\x1bOC", "\x1b[1C"}, {"\x1b[C", ""},  // right, not past the end
          {"\x01", "\r\x1b[2C"}, {"\x1b[D", ""}, {"\x08", "\a"},       // home; nothing left of it
          {"\x1b[3~", "\x1b[JXbc\r\x1b[2C"}, {"\x05", "\r> Xbc"},      // delete under it; end
          {"\x1b[3~", "\a"}, {"\x7f", "\b\x1b[J"},                     // at the end
          {"\x1b[1~", "\r\x1b[2C"}, {"\x1b[4~", "\r> Xb"},             // home and end: the other
          {"\x1b[D", "\b"}, {"\x1b[K", "\r> Xb"},                      // forms in the random edits
          {"\x1b[2~", ""}, {"y", "y"}, {"\x1bx", ""}, {"z", "z"},      // Insert's ~, ESC x: eaten
          {"\x1b[5~", ""}, {"\x1b[6~", ""}, {"\x1b[2C", ""},           // a digit eats the next byte
          {"\x1b[A", ""}, {"\x1b[B", ""}, {"\x1bOA", ""},              // no history to recall
          {"\x07", ""}, {"\x0b", ""}, {"\x1f", ""}, {"\x80", ""}, {"\xff", ""},
          {"\x02", "\b"}, {"\x08", "\b\x1b[Jz\r\x1b[4C"},              // backspace inside
          {"\x03", "\r\x1b[2C\x1b[J"}, {"q", "q"}, {"\r", "\n"}},      // Ctrl-C; CR arrives as LF
         {"q"}},
        {"the prompt is written unchanged, past the margin", {.prompt = "%s%n%d%%> ", .cols = 8},
         {{"", "%s%n%d%%> "}, {"\r", "\n"}}, {""}},
        {"the smallest room", {.max_len = 1},
         {{"a", "\a"}, {"\x1b[D", ""}, {"\r", "\n"}}, {""}},
        {"a recalled line is cut to fit", {.max_len = 6, .history = {"abc\tdefghij"}},
         {{"\x1b[A", "\x1b[Jabcde"}, {"x", "\a"}, {"\r", "\n"}}, {"abcde"}},
        {"up and down recall the history",
         {.prompt = "> ", .calls = 2, .history = {"first", "second-entry"}, .record = true},
         {{"", "> "}, {"a", "a"}, {"b", "b"}, {"\x1b[A", "\r\x1b[2C\x1b[Jsecond-entry"},
          {"\x1bOA", "\r\x1b[2C\x1b[Jfirst"}, {"\x1b[A", ""},
          {"\x1b[B", "\r\x1b[2C\x1b[Jsecond-entry"}, {"\x1bOB", "\r\x1b[2C\x1b[Jab"},
          {"\x1b[B", ""}, {"\r", "\n"}, {"", "> "}, {"\x1b[A", "\x1b[Jab"},  // the line recorded
          {"\r", "\n"}}, {"ab", "ab"}},
        // The end of input, also inside a sequence, ends the call; the line keeps the text.
        {"end of input", {.input = "ab"}, {{"", "ab"}}, {"ab"}, -1, "1"},
        {"end of input after ESC", {.input = "ab\x1b"}, {{"", "ab"}}, {"ab"}, -1, "1"},
        {"end of input after ESC [", {.input = "ab\x1b["}, {{"", "ab"}}, {"ab"}, -1, "1"},
    };
    // clang-format on
    for (const Scenario &sc : scenarios)
        run(sc, false);
}

// Echo of inserting n times 'y' at the start of 400 'x' (no prompt, no wrap): each insert
// redraws the tail and puts the cursor back.
std::string inserts_before_tail(int n) {
    std::string echo;
    for (int k = 1; k <= n; ++k)
        echo += "y" + std::string(400, 'x') + "\r\x1b[" + std::to_string(k) + "C";
    return echo;
}

// Keys that arrive together (a paste, a fast typist): each burst is handled under one
// hold of the output lock and echoed exactly as key by key.
TEST(EditorKeys, Bursts) {
    // clang-format off
    const Scenario scenarios[] = {
        {"edits", {.prompt = "> "},
         {{"", "> "}, {"abc\x02X\x1b[D\x06\x7f\x01\x05",
                       "abc\bXc\r\x1b[5C\b\x1b[1C\b\x1b[Jc\r\x1b[4C\r\x1b[2C\r> abc"},
          {"\r", "\r\n"}}, {"abc"}},
        {"line ends inside a burst", {.calls = 3},
         {{"ab\rcd\ref", "ab\r\n"}, {"", "cd\r\n"}, {"", "ef"}, {"g\r", "g\r\n"}},
         {"ab", "cd", "efg"}},
        {"Ctrl-D inside a burst", {}, {{"ab\x04" "cd\r", "ab"}}, {"ab"}, -1},
        {"echo off: only the prompt, and the refresh whatever the switch",
         {.prompt = "p> ", .setup = [] { cle_echo_enable(0); }, .refresh = true},
         {{"", "p> "}, {"ab\x02X\x1b[D\r", ""}, {"", "p> aXb"}}, {"aXb"}},
        {"wrapping at the margin", {.prompt = "> ", .cols = 10},
         {{"", "> "}, {"abcdefghij\x7f\x7f\x7f",  // the last one goes back to the row above
                       "abcdefgh \bij\b\x1b[J\b\x1b[J\r\x1b[1A\x1b[9C\x1b[J"},
          {"\r", "\r\n"}}, {"abcdefg"}},
        {"a line full in the middle of a burst", {.max_len = 4},
         {{"abcde\x02x\r", "abc\a\a\b\a\r\n"}}, {"abc"}},
        // 40 kB of echo; the 511th character in the shell's room of 511 bytes is refused.
        {"an echo larger than the editor's buffer; the shell's room", {.cols = 1000},
         {{std::string(400, 'x') + "\x01" + std::string(111, 'y'),
           std::string(400, 'x') + "\r" + inserts_before_tail(110) + "\a"},
          {"\r", "\r\n"}}, {std::string(110, 'y') + std::string(400, 'x')}},
        // The editor writes its echo itself; what the caller left in stdio comes first.
        {"after what the caller left in stdio", {.calls = 2, .print_after = "[after]"},
         {{"ab\rcd\r", "ab\r\n"}, {"", "[after]cd\r\n"}}, {"ab", "cd"}},
        // Line ends by the switches; the deadline of an idle limit that large must not
        // overflow the clock.
        {"CR and LF", {.calls = 2, .idle = INT_MAX},
         {{"a\rb\n", "a\r\n"}, {"", "b\n"}}, {"a", "b"}, 0, "1010"},
        {"CR LF is two lines", {.calls = 2}, {{"\r\n", "\r\n"}, {"", "\n"}}, {"", ""}, 0, "00"},
        {"LF CR", {.calls = 2, .setup = [] { cle_eol_nl_cr(); }},
         {{"a\r\nb\r", "a\n\r"}, {"", "b\n\r"}}, {"a", "b"}, 0, "1010"},
        {"no CR translation", {.calls = 2, .setup = [] { cle_no_cr_translation(1); }},
         {{"a\r\nb\r", "a\n\r"}, {"", "b\n\r"}}, {"a", "b"}, 0, "1010"},
        {"LF CR, translated",
         {.calls = 2, .setup = [] { cle_eol_nl_cr(); cle_no_cr_translation(0); }},
         {{"a\rb\n", "a\n\r"}, {"", "b\n\r"}}, {"a", "b"}, 0, "1010"},
        // Without echo CR and LF each end a line, whatever the switches say. The typing
        // report comes once per line; emptying the line reports nothing.
        {"echo off", {.calls = 5, .setup = [] { cle_echo_enable(0); }},
         {{"ab\x02X\x01\x03y\r" "a\x7f" "b\n" "c\r\n" "a\x03\x7f" "b\x03\r", ""},
          {"", ""}, {"", ""}, {"", ""}, {"", ""}}, {"y", "b", "c", "", ""}, 0, "101010010"},
        {"echo off, LF CR", {.calls = 4, .setup = [] { cle_echo_enable(0); cle_eol_nl_cr(); }},
         {{"a\rb\nc\r\n", ""}, {"", ""}, {"", ""}, {"", ""}}, {"a", "b", "c", ""}, 0, "1010100"},
        {"no callbacks", {.prompt = "> ", .callbacks = false},
         {{"ab\x02X\r", "> ab\bXb\r\x1b[4C\r\n"}}, {"aXb"}, 0, ""},
    };
    // clang-format on
    for (const Scenario &sc : scenarios)
        run(sc, true);
}

// The modes the editor sets and restores; the whole struct is not compared, as its speeds
// and padding are not the editor's and read differently under user-mode emulation.
bool same_modes(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The editor's modes while it runs; Ctrl-D puts the terminal's back and keeps the text.
TEST(EditorKeys, TerminalModesCtrlDAndTheirRestoration) {
    for (const bool no_cr : {false, true}) {
        SCOPED_TRACE(no_cr ? "no CR translation" : "default");
        PtySession s(
            {.calls = 2, .setup = no_cr ? +[] { cle_eol_nl_cr(); } : nullptr, .raw_output = false});
        const termios before = s.initial_modes(), now = s.slave_modes();
        termios want = before;  // every byte at once, unechoed, no signals, CR NL as asked
        want.c_lflag &= ~(ICANON | ECHO | ECHONL | ISIG);
        if (no_cr) want.c_oflag &= ~ONLCR, want.c_iflag &= ~(ICRNL | IGNCR);
        want.c_cc[VMIN] = 1, want.c_cc[VTIME] = 0, want.c_cc[VINTR] = 0;
        EXPECT_TRUE(same_modes(now, want)) << "the editor's modes";
        s.type("a\r");  // CR and LF cross the terminal untranslated when asked
        const Report r = s.report();
        expect_line(r, 0, "a");
        EXPECT_EQ(s.echo_through(r.marks), no_cr ? "a\n\r" : "a\r\n");
        s.type("b\x04");
        const Report d = s.report();
        expect_line(d, -1, "b");
        EXPECT_EQ(std::tuple(d.canon, d.typing), std::tuple(1, "1"));
        EXPECT_EQ(s.report().text.substr(0, 3), "C 0");
        EXPECT_TRUE(same_modes(s.slave_modes(), before)) << "the terminal as it was found";
    }
}

// A new window size applies from the next edit; a hang-up ends the call, and the line
// keeps the text.
TEST(EditorKeys, ResizeAndHangUp) {
    PtySession s({.setup = [] { signal(SIGHUP, SIG_IGN); }});  // the editor sees the hang-up
    s.key("a");
    const struct winsize ws = {24, 4, 0, 0};
    // The signal reaches the child before the next key does: its wait is interrupted and
    // the handler runs before the key is read.
    ASSERT_EQ(ioctl(s.terminal().fd(), TIOCSWINSZ, &ws), 0);
    EXPECT_EQ(s.key("b"), "b");
    EXPECT_EQ(s.key("c"), "c");
    EXPECT_EQ(s.key("d"), "d \b");  // the margin is now at 4 columns
    s.key("\x1b[D");
    s.terminal().hangUp();
    expect_line(s.report(), -1, "abcd");
    EXPECT_EQ(s.report().text.substr(0, 3), "C 0");

    // Keys still come after the hang-up: their echo cannot be written and is given up.
    PtySession piped({.setup = [] { signal(SIGHUP, SIG_IGN); }, .piped_keys = true});
    piped.terminal().hangUp();
    piped.type("ab\r");
    expect_line(piped.report(), 0, "ab");
}

// A terminal that does not block, full because nobody reads it yet: the echo waits for
// room and goes on where each write stopped, byte for byte as on a terminal that blocks.
TEST(EditorKeys, EchoWaitsForRoomOnATerminalThatDoesNotBlock) {
    // Each key redraws the 400 characters after it: about 120 kB, more than a pty holds.
    std::string burst = std::string(400, 'x') + "\x01";
    for (int i = 0; i < 150; ++i)
        burst += "y\x7f";
    burst += "\r";
    std::string echo[2];
    for (const bool nonblocking : {false, true}) {
        PtyOptions o{.prompt = "> ", .cols = 1000, .piped_keys = true};
        if (nonblocking) o.setup = [] { fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK); };
        PtySession s(o);
        s.key("");
        s.type(burst);
        // The echo fills the pty before reading starts. On a machine too busy for that the
        // test checks less, but never fails.
        std::this_thread::sleep_for(vela::test::scaled(std::chrono::milliseconds(200)));
        echo[nonblocking] = s.key("");
        expect_line(s.report(), 0, std::string(400, 'x'));
    }
    EXPECT_GT(echo[0].size(), 100000U);
    EXPECT_TRUE(echo[1] == echo[0]) << "the echo differs";
}

}  // namespace
}  // namespace cle_test
