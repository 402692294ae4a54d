// The editor's keys, escape sequences and line ends, byte for byte on a real pty.
#include <gtest/gtest.h>

#include "pty_session.h"

namespace cle_test {
namespace {

// clang-format off
const std::vector<Step> kKeyTable = {
    {"a", "a"}, {"b", "b"}, {"c", "c"},
    {"\x02", "\b"}, {"\x1b[D", "\b"},                            // left
    {"X", "Xbc\r\x1b[4C"},                                       // insert inside
    {"\x06", "\x1b[1C"}, {"\x1bOC", "\x1b[1C"}, {"\x1b[C", ""},  // right, not past the end
    {"\x01", "\r\x1b[2C"}, {"\x1b[D", ""}, {"\x08", "\a"},       // home; nothing left of it
    {"\x1b[3~", "\x1b[JXbc\r\x1b[2C"},                           // delete under the cursor
    {"\x05", "\r> Xbc"}, {"\x1b[3~", "\a"},                      // end; nothing to delete
    {"\x7f", "\b\x1b[J"},                                        // backspace at the end
    {"\x1b[1~", "\r\x1b[2C"}, {"\x1b[4~", "\r> Xb"},             // home and end in all forms
    {"\x1b[H", "\r\x1b[2C"}, {"\x1b[F", "\r> Xb"},
    {"\x1bOH", "\r\x1b[2C"}, {"\x1bOF", "\r> Xb"},
    {"\x1b[D", "\b"}, {"\x1b[K", "\r> Xb"},
    {"\x1b[2~", ""}, {"y", "y"},                                 // insert key: its tilde is eaten
    {"\x1bx", ""}, {"z", "z"},                                   // ESC x: both bytes eaten
    {"\x1b[5~", ""}, {"\x1b[6~", ""}, {"\x1b[2C", ""},           // a digit eats the next byte
    {"\x1b[A", ""}, {"\x1b[B", ""}, {"\x1bOA", ""},              // no history to recall
    {"\x07", ""}, {"\x0b", ""}, {"\x1f", ""}, {"\x80", ""}, {"\xff", ""},
    {"\x02", "\b"}, {"\x08", "\b\x1b[Jz\r\x1b[4C"},              // backspace inside
    {"\x03", "\r\x1b[2C\x1b[J"}, {"q", "q"},                     // Ctrl-C empties the line
};
// clang-format on

// With the driver's other thread printing too: its text never lands inside an echo.
TEST(EditorKeys, EveryKeyEchoesExactly) {
    for (const bool printer : {false, true}) {
        SCOPED_TRACE(printer ? "with a background printer" : "alone");
        PtyOptions o{{"--callbacks", "--prompt", "> "}};
        if (printer) o.args.push_back("--bg-printer");
        auto s = start(o);
        run_steps(*s, {{"", "> "}});  // the prompt
        run_steps(*s, kKeyTable);
        if (printer) continue;
        s->type("\r");  // arrives as LF: the terminal still maps CR to NL
        expect_line(s->report(), 0, "q");
        EXPECT_EQ(s->take_echo(), "\n");
    }
}

// Prompts, narrow windows and recalled lines: the echo of each key, then Enter.
TEST(EditorKeys, Scenarios) {
    struct Scenario {
        const char *name;
        std::vector<std::string> args;
        unsigned short cols;
        std::vector<Step> steps;  // the first one's echo is the prompt
        std::string line, end;    // returned, and the echo of Enter
    };
    std::vector<Step> wrapped = {{"", "> "}};
    for (const char c : std::string("abcdefg"))
        wrapped.push_back({std::string(1, c), std::string(1, c)});
    // clang-format off
    wrapped.insert(wrapped.end(), {
        {"h", "h \b"},                                  // filled the row: forced wrap
        {"i", "i"}, {"\x7f", "\b\x1b[J"},
        {"\x7f", "\r\x1b[1A\x1b[9C\x1b[J"},             // back to the row above
        {"\x02", "\b"},
        {"Z", "Zg \b\x1b[1A\x1b[9C"},                   // insert that ends at the margin
        {"\x06", "\r\n"}, {"\x02", "\r\x1b[1A\x1b[9C"}, // right and left over the margin
        {"\x1b[3~", "\x1b[J"},
        {"1", "1 \b"}, {"2", "2"},
        {"\x01", "\r\x1b[1A\x1b[2C"}, {"\x06", "\x1b[1C"},
        {"\x7f", "\b\x1b[JbcdefZ12 \r\x1b[1A\x1b[2C"},  // tail ends at the margin
        {"\x05", "\r> bcdefZ12 \b"}, {"3", "3"}, {"\x01", "\r\x1b[1A\x1b[2C"},
    });
    const Scenario scenarios[] = {
        {"a wrapped line on a narrow window", {"--prompt", "> "}, 10, wrapped, "bcdefZ123",
         "\x1b[1B\n"},  // the line ends below its last row, not inside it
        {"without a prompt home is column 0", {}, 80,
         {{"a", "a"}, {"b", "b"}, {"\x01", "\r"}, {"\x06", "\x1b[1C"}, {"\x05", "\rab"},
          {"\x02", "\b"}, {"\x03", "\r\x1b[J"}}, "", "\n"},
        {"the prompt is written unchanged", {"--prompt", "%s%n%d%%> "}, 80,
         {{"", "%s%n%d%%> "}}, "", "\n"},
        {"a prompt that fills the row", {"--prompt", "0123456789"}, 10,
         {{"", "0123456789 \b"}, {"a", "a"}, {"\x01", "\r"}, {"b", "ba\r\x1b[1C"},
          {"\x03", "\r\x1b[J"}}, "", "\n"},
        {"a recalled line is cut to fit", {"--max", "6", "--history", "abc\tdefghij"}, 80,
         {{"\x1b[A", "\x1b[Jabcde"}, {"x", "\a"}}, "abcde", "\n"},
    };
    // clang-format on
    for (const Scenario &sc : scenarios) {
        SCOPED_TRACE(sc.name);
        PtyOptions o{sc.args};
        o.args.push_back("--callbacks");
        o.cols = sc.cols;
        auto s = start(o);
        run_steps(*s, sc.steps);
        s->type("\r");
        const Report r = s->report();
        expect_line(r, 0, sc.line);
        EXPECT_EQ(s->echo_through(r.num("unlocks")), sc.end);
    }
}

TEST(EditorKeys, WithoutCallbacksTheEditorWorksAlike) {
    auto s = start({{"--prompt", "> "}});
    s->type("ab\x02X\r");
    const Report r = s->report();
    EXPECT_EQ(r.line(), "aXb");
    EXPECT_EQ(r.num("locks"), 0);
    EXPECT_EQ(s->take_echo(true), "> ab\bXb\r\x1b[4C\n");
}

TEST(EditorKeys, UpAndDownRecallHistory) {
    auto s = start({{"--callbacks", "--prompt", "> ", "--history", "first", "--history",
                     "second-entry", "--record", "--calls", "2"}});
    // clang-format off
    run_steps(*s, {{"", "> "}, {"a", "a"}, {"b", "b"},
                   {"\x1b[A", "\r\x1b[2C\x1b[Jsecond-entry"}, {"\x1bOA", "\r\x1b[2C\x1b[Jfirst"},
                   {"\x1b[A", ""}, {"\x1b[B", "\r\x1b[2C\x1b[Jsecond-entry"},
                   {"\x1bOB", "\r\x1b[2C\x1b[Jab"}, {"\x1b[B", ""}});
    // clang-format on
    s->type("\r");
    const Report first = s->report();
    expect_line(first, 0, "ab");
    EXPECT_EQ(s->echo_through(first.num("unlocks") + 1), "\n> ");
    run_steps(*s, {{"\x1b[A", "\x1b[Jab"}});  // the line just recorded, from an empty line
    s->type("\r");
    expect_line(s->report(), 0, "ab");
}

TEST(EditorKeys, LineEndsByMode) {
    struct LineEndCase {
        const char *name;
        std::vector<std::string> args;
        bool icrnl;
        std::string typed, echo;
        std::vector<std::string> lines;
    };
    // clang-format off
    const LineEndCase cases[] = {
        {"default, CR as LF", {}, true, "a\r", "a\n", {"a"}},
        {"default, CR", {}, false, "a\rb\n", "a\r\nb\n", {"a", "b"}},
        {"default, CR LF is two lines", {}, false, "\r\n", "\r\n\n", {"", ""}},
        {"eol_nl_cr", {"--eol-nl-cr"}, true, "a\r\nb\r", "a\n\rb\n\r", {"a", "b"}},
        {"no CR translation", {"--no-cr"}, true, "a\r\nb\r", "a\n\rb\n\r", {"a", "b"}},
        {"LF CR, translated", {"--eol-nl-cr", "--cr"}, false, "a\rb\n", "a\n\rb\n\r", {"a", "b"}},
        {"echo off", {"--echo-off"}, true, "ab\x02X\x01\x03y\r", "", {"y"}},
        // Without echo, CR and LF each end a line whatever the switches say.
        {"echo off, CR", {"--echo-off"}, false, "a\rb\nc\r\n", "", {"a", "b", "c", ""}},
        {"echo off, LF CR", {"--echo-off", "--eol-nl-cr"}, true, "a\rb\nc\r\n", "", {"a", "b", "c", ""}},
        {"echo off, no CR translation", {"--echo-off", "--no-cr"}, true, "a\rb\nc\r\n", "",
         {"a", "b", "c", ""}},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PtyOptions o{c.args};
        o.args.insert(o.args.end(), {"--callbacks", "--calls", std::to_string(c.lines.size())});
        o.icrnl = c.icrnl;
        auto s = start(o);
        s->type(c.typed);
        int unlocks = 0;
        for (const auto &line : c.lines) {
            const Report r = s->report();
            expect_line(r, 0, line);
            unlocks = r.num("unlocks");
        }
        EXPECT_EQ(testing::PrintToString(s->echo_through(unlocks)), testing::PrintToString(c.echo));
    }
}

TEST(EditorKeys, EchoOffStillShowsThePromptAndTheRefresh) {
    auto s = start({{"--callbacks", "--echo-off", "--prompt", "p> ", "--refresh"}});
    EXPECT_EQ(s->echo_through(1), "p> ");
    s->type("abc\x7f\r");
    expect_line(s->report(), 0, "ab");
    EXPECT_EQ(s->report().text, "F 1");
    EXPECT_EQ(s->take_echo(true), "p> ab");  // the refresh writes whatever the switch
}

TEST(EditorKeys, TerminalModesAndTheirRestoration) {
    for (const bool no_cr : {false, true}) {
        SCOPED_TRACE(no_cr ? "no CR translation" : "default");
        PtyOptions o{{"--callbacks"}};
        if (no_cr) o.args.push_back("--eol-nl-cr");
        o.raw_output = false;
        auto s = start(o);
        const struct termios before = s->initial_modes(), t = s->slave_modes();
        const tcflag_t line_modes = ICANON | ECHO | ECHONL | ISIG;
        EXPECT_EQ(t.c_lflag & line_modes, 0u);
        EXPECT_EQ(t.c_lflag | line_modes, before.c_lflag | line_modes);
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        EXPECT_EQ(t.c_cc[VINTR], 0);
        EXPECT_EQ((t.c_oflag & ONLCR) != 0, !no_cr);
        EXPECT_EQ((t.c_iflag & ICRNL) != 0, !no_cr);
        EXPECT_EQ(t.c_iflag & IGNCR, 0u);
        s->type("a\r");  // CR and LF cross the terminal untranslated when asked
        expect_line(s->report(), 0, "a");
        EXPECT_EQ(s->take_echo(true), no_cr ? "a\n\r" : "a\r\n");
        EXPECT_EQ(s->report().text, "C 0");
        expect_restored(*s);
    }
}

TEST(EditorKeys, CtrlDRestoresTheModesAndKeepsTheText) {
    auto s = start({{"--callbacks", "--calls", "2"}});
    s->type("ab\x04");
    const Report r = s->report();
    expect_line(r, -1, "ab");
    EXPECT_EQ(r.num("canon"), 1);
    EXPECT_EQ(r.fields.at("typing"), "1");
    EXPECT_EQ(s->report().text, "C 0");  // -1 without an import expiry ends the driver
}

}  // namespace
}  // namespace cle_test
