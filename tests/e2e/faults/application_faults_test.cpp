// An application that misbehaves: it drops the link, floods, sends over-long, empty,
// code-less or unclean lines, never answers, or stops reading. Each test names the
// outcome it expects; none may hang the shell, nor does a syslogd that dies under a
// mirrored session.
#include <gtest/gtest.h>

#include <algorithm>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr auto npos = std::string::npos;
// A shell of type api (whose screen has no live log).
const DeviceOptions kApi = shellWith({"-t", "api", "--nobanner"});

}  // namespace

// A flood without a line end, an over-long line, an empty line or a reply without a code
// ends the link at once, a silent application only when it closes; the session ends,
// restoring the terminal, and the shell with status 0. A link still up takes the
// unregistration, and the clearing of the client setting where its reader still runs.
TEST(FaultsApplication, TheLinkEndingUnderAWaitingCommandEndsTheSessionNotTheShell) {
    const std::string odd = "E: odd";
    // The action and what zuz gets from the line on.
    const std::pair<std::string, Lines> cases[] = {
        {"sendraw \"" + std::string(40000, 'f') + "\"; noreply", {odd, "U"}},
        {"sendlong 16385; noreply", {odd, "U"}},
        {"send \"\"; reply 0", {odd, "U"}},
        {"send \"R\"; noreply", {odd, kClear24, "U"}},
        {"noreply; delay 1500; drop", {odd}},
    };
    for (const auto &[action, sent] : cases) {
        SCOPED_TRACE(action.substr(0, 20));
        ShellSession device(keptUp(kApi, "exact \"E: odd\" => " + action + "\n"),
                            ShellSession::kReady);
        const auto start = std::chrono::steady_clock::now();
        device.type("odd\r");
        EXPECT_TRUE(device.waitFor(shown("error: session is closed by peer")));
        const bool linkUp = sent.back() == "U";
        EXPECT_TRUE(linkUp || msSince(start) >= 1400) << "the command waits for its reply";
        EXPECT_EQ(endStatus(device, linkUp), 0);
        EXPECT_EQ(zuzFrom(device, odd), sent);
        EXPECT_EQ(ptyLocalModes(ttyOf(device)) & (ICANON | ECHO | ISIG),
                  tcflag_t(ICANON | ECHO | ISIG));
        EXPECT_EQ(device.output().find("fff"), npos);
    }
}

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
