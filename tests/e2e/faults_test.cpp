// Faults from either side of the shell: an application that sends unclean or over-long
// lines, or stops reading, and a syslogd that dies under a mirrored session; a terminal
// that hangs up wherever the shell waits, and SIGTERM. A session ended by a signal still
// withdraws itself once (without depending on replies), restores the terminal, logs its
// end in mirrored sessions and then ends by that signal. (End of input inside an escape
// sequence: tests/cle.)
#include <gtest/gtest.h>

#include <algorithm>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr auto npos = std::string::npos;
// A shell of type api (whose screen has no live log).
const DeviceOptions kApi = shellWith({"-t", "api", "--nobanner"});
using Dialogue = std::vector<std::pair<std::string, std::string>>;

}  // namespace

// Text on the session's API listener: lines framed across datagrams, held back while the
// user types. Lines that clean to nothing are skipped; NULs go and turn the "%"s of their
// line into blanks, in replies and output alike; the longest line is shown whole.
// Mirrored lines, the shell's own too, are never formats. Then zuz answers "prime" and
// the next seven lines ahead (the shell holds eight replies), and reads nothing for 11 s:
// the shell sends those seven at once (each has its answer) and waits for the eighth
// answer; what is typed meanwhile waits in the terminal, while listener text is shown at
// once. When zuz reads again, every line arrives whole and in order. One byte more than
// the longest line ends the listener's reader, which logs why: commands still work, the
// application's output is lost. A dead syslogd is still handed every mirrored line, of
// which the history has many.
TEST(FaultsApplication, ListenerTextAnUnreadableLineOrAStalledPeerCostNoLineAndNoOrder) {
    const std::string answers = "R: 0\\nR: 0\\nR: 0\\nR: 0\\nR: 0\\nR: 0\\nR: 0\\n";
    const std::string longest(16383, 'a');
    ShellSession device(
        keptUp(kApi,
               "exact \"E: prime\" => reply 0; sendraw \"" + answers + "\"; delay 11000\n" +
                   "prefix \"E: echo stalled \" times 7 => exec\n" +
                   "exact \"E: %n%s\" => datagram \"\\r\\na\\0b%n%s\\n100%d %x\\n" + longest +
                   "\\n\"; sendraw \"R: -\\x005%s\\n\"; noreply\nexact \"E: big\" => datagram \"" +
                   std::string(16384, 'b') + "\\n\"; reply 0\n"),
        ShellSession::kReady);
    const std::string name = "API:" + sessionName(device) + ":";
    auto listener = device.connectDatagram("/tmp/apiasynclisteners/vela" + ttyOf(device).substr(9));
    for (const char *datagram : {"first\nsecond\n", "par", "tial\n", "\n", "", "last\n"})
        EXPECT_TRUE(sendDatagram(listener, datagram));
    EXPECT_EQ(device.readUntil("last\r\n"), "first\r\nsecond\r\npartial\r\nlast\r\n");
    device.type("echo hal");
    ASSERT_TRUE(device.waitFor("echo hal"));
    EXPECT_TRUE(sendDatagram(listener, "held one\n") && sendDatagram(listener, "held two\n"));
    // The reader handles lines in order: once the second is logged, the first is placed.
    ASSERT_TRUE(waitForRecord(device, name + "0:OUT:held two"));
    EXPECT_EQ(device.output().find("held"), npos);
    device.type("f\r");
    EXPECT_EQ(device.readUntil("\nhalf\r\n"), "f\r\nheld one\r\nheld two\r\nhalf\r\n");

    device.type("%n%s\r");
    // The reply and the lines come on different roads, so in any order; the line count
    // in a record depends on how far the loop got meanwhile.
    for (const std::string &text :
         std::vector<std::string>{"ab n s", "100%d %x", "error: command not found", longest}) {
        EXPECT_TRUE(eventually([&] { return device.output().find("\n" + text + "\r") != npos; }))
            << text.substr(0, 20);
        EXPECT_TRUE(text == longest || waitForRecord(device, ":OUT:" + text)) << text;
    }
    device.type("history\r");
    EXPECT_TRUE(waitForRecord(device, ":OUT: 2  %n%s"));

    device.type("prime\r");
    ASSERT_TRUE(device.waitForZuzLine("E: prime"));
    const auto start = std::chrono::steady_clock::now();
    Lines typed;
    for (int i = 0; i < 20; ++i) {
        const std::string line = "echo stalled " + std::to_string(i) + " ";
        typed.push_back("E: " + line + std::string(500 - line.size(), 'p'));
        device.type(typed.back().substr(3) + "\r");
    }
    EXPECT_TRUE(sendDatagram(listener, "while stalled\n"));
    EXPECT_TRUE(device.waitFor("\nwhile stalled\r\n", 5s));
    ASSERT_TRUE(device.waitForZuzLine(typed.back(), 15s));
    EXPECT_GE(msSince(start), 10500);
    EXPECT_EQ(zuzFrom(device, typed.front()), typed);

    device.type("big\r");
    EXPECT_TRUE(waitForRecord(
        device, ":CRITICAL: XCOM buffer is full without new line, current buffer length: 16385"));
    device.type("nosuch\r");
    EXPECT_TRUE(device.waitFor(shown("error: command not found")));
    device.type("echo lost\r");
    EXPECT_TRUE(device.waitForZuzLine("E: echo lost"));
    EXPECT_FALSE(device.waitFor("\nlost", 300ms));
    EXPECT_EQ(device.output().find("bbb"), npos);
    EXPECT_EQ(
        std::ranges::count_if(velaRecords(device),
                              [](const std::string &m) { return m.find(":CRITICAL:") != npos; }),
        1);
    ASSERT_TRUE(killDaemon(device, "syslogd"));
    for (int i = 0; i < 30; ++i) {
        device.type("history\r");
        EXPECT_TRUE(device.waitFor(shown("history success"))) << i;
    }
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}

// In the editor with half a line typed, and at the password prompt with the echo off.
// Started with "--wait", the shell first waits for SIGUSR1, before the application
// hears of it.
TEST(FaultsTerminal, TermSignalWithdrawsTheSessionRestoresTheTerminalAndEndsBySignal) {
    for (const bool atPassword : {false, true}) {
        SCOPED_TRACE(atPassword ? "at the password prompt" : "in the editor");
        DeviceOptions options = keptUp(shellWith({"-t", "api", "--nobanner", "--wait"}));
        if (atPassword) options.settings = {{"sw", "secret"}};
        DeviceSession device(options);
        ASSERT_TRUE(device.waitFor(shown("DEBUG: waiting for SIGUSR1 to start...")));
        EXPECT_TRUE(device.zuzReceived().empty());
        ASSERT_EQ(device.runInDevice({"pkill", "-USR1", "-x", "vela"}).status, 0);
        // A signal just before the wait's sleep is noticed when the sleep ends, 5 s later.
        EXPECT_TRUE(
            device.waitFor(shown("DEBUG: SIGUSR1 received! set continue flag to true"), 8s));
        ASSERT_TRUE(atPassword ? device.waitFor(shown("Password:")) : waitForLoop(device));
        const std::string tty = ttyOf(device);
        if (!atPassword) device.type("half a li");
        const tcflag_t off = atPassword ? ECHO : ICANON | ECHO;
        ASSERT_TRUE(atPassword || device.waitFor("half a li"));
        ASSERT_TRUE(eventually([&] { return ptyLocalModes(tty) && !(ptyLocalModes(tty) & off); }));
        ASSERT_EQ(device.runInDevice({"pkill", "-TERM", "-x", "vela"}).status, 0);
        EXPECT_EQ(endStatus(device), 143);
        EXPECT_EQ(ptyLocalModes(tty) & (ICANON | ECHO | ISIG), tcflag_t(ICANON | ECHO | ISIG));
        EXPECT_EQ(zuzFrom(device, kClear24), (Lines{kClear24, "U"}));
        EXPECT_EQ(zuzCount(device, "E: _control login", true), 0);
        EXPECT_TRUE(waitForRecord(device, ":End of session"));
    }
}

// At the prompt the hang-up also ends the editor's input: the loop's own closing and the
// signal's must not both send; a shell that does not lead the terminal's session only
// reads the end of its input. Waiting for a reply or a login's result that never comes,
// only the signal ends the wait. A secure profile session logs out first.
TEST(FaultsTerminal, HangUpWithdrawsTheSessionOnceWhereverTheShellWaits) {
    const Settings secure = secureProfile("secret"), password = {{"sw", "secret"}};
    const std::string stuck = "exact \"C: stuck\" => noreply\n",
                      silent = "prefix \"E: _control login\" => noresult\n";
    const Dialogue logIn = {{"Login:", "admin\r"}, {"Password:", "secret\r"}},
                   waitForResult = {{shown("Password:"), "secret\r"}};
    // As under a telnet daemon, the shell leads the terminal's session, so that a
    // hang-up reaches it as SIGHUP; sh then writes its status (the terminal is gone).
    const std::string leads = "setsid --ctty ";
    // Where: how the shell starts, settings, zuz's rules, the dialogue, zuz's last line
    // ("": the login request).
    const std::tuple<const char *, std::string, Settings, std::string, Dialogue, std::string>
        cases[] = {
            {"at the prompt", leads, {}, "", {}, kLoopReady},
            {"at the prompt of another session's shell", "", {}, "", {}, kLoopReady},
            {"waiting for a reply", leads, {}, stuck, {}, "C: stuck"},
            {"logged in to the secure profile", leads, secure, "", logIn, kLoopReady},
            {"waiting for the login's result", leads, password, silent, waitForResult, ""},
        };
    for (const auto &[where, launch, settings, rules, dialogue, waitsAfter] : cases) {
        SCOPED_TRACE(where);
        DeviceOptions options = shellWith({"-t", "telnet"}, settings);
        options.command = {
            "sh", "-c", launch + kDeviceVela + " -t telnet; echo $? > /tmp/status; exec sleep 30"};
        options.zuzRules = rules;
        DeviceSession device(options);
        if (!converse(device, dialogue) || (!waitsAfter.empty() && !waitForLoop(device))) {
            if (device.output().find("setsid") != std::string::npos)
                GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
            FAIL() << device.output();
        }
        const std::string tty = ttyOf(device);
        const std::string last =
            !waitsAfter.empty() ? waitsAfter : loginLine("admin", "secret", tty);
        if (rules == stuck) device.type("stuck\r");
        ASSERT_TRUE(device.waitForZuzLine(last));
        // Nothing is printed while the login waits, least of all a give-up.
        EXPECT_FALSE(device.waitFor(waitsAfter.empty() ? "\n" : "closed by peer", 300ms));
        Lines expected = {last, kClear23, "U"};
        if (settings == secure) expected.insert(expected.begin() + 1, "E: _control logout " + tty);
        const auto start = std::chrono::steady_clock::now();
        device.hangUp();
        std::optional<std::string> status;  // sh creates the file before it writes into it
        eventually(
            [&] { return (status = deviceFile(device, "/tmp/status")) && !status->empty(); });
        EXPECT_LT(msSince(start), 5000);
        // 0 when the end of input won the race at the prompt; a waiting shell reads none.
        EXPECT_TRUE(status == "129\n" || (last == kLoopReady && status == "0\n"))
            << status.value_or("none");
        EXPECT_TRUE(device.waitForZuzLine("U"));
        EXPECT_EQ(zuzFrom(device, last), expected);
    }
}
