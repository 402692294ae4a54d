// An application that misbehaves: it floods, sends over-long, empty or unclean lines,
// never answers, or stops reading. Each test names the outcome it expects; none may hang
// the shell, nor does a syslogd that dies under a mirrored session. (A link that ends or
// a reply without a code: tests/e2e/spine.)
#include <gtest/gtest.h>
#include <signal.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr auto npos = std::string::npos;
const std::string kClosedByPeer = shown("error: session is closed by peer");

// A shell of type api (whose screen has no live log), kept up by sh.
DeviceOptions withRules(const std::string &rules) {
    DeviceOptions options = keptUp(shellWith({"-t", "api", "--nobanner"}));
    options.zuzRules = rules;
    return options;
}

}  // namespace

// A flood without a line end or an empty XCOM line ends the link at once, a silent
// application only when it closes; the session ends, restoring the terminal, and the
// shell with status 0. A link whose reader gave up still takes the unregistration.
TEST(FaultsApplication, TheLinkEndingUnderAWaitingCommandEndsTheSessionNotTheShell) {
    const std::pair<std::string, bool> cases[] = {
        {"sendraw \"" + std::string(40000, 'f') + "\"; noreply", true},
        {"send \"\"; reply 0", true},
        {"noreply; delay 1500; drop", false},
    };
    for (const auto &[action, linkUp] : cases) {
        SCOPED_TRACE(action.substr(0, 20));
        DeviceSession device(withRules("exact \"E: odd\" => " + action + "\n"));
        ASSERT_TRUE(waitForLoop(device));
        const auto start = std::chrono::steady_clock::now();
        device.type("odd\r");
        EXPECT_TRUE(device.waitFor(kClosedByPeer));
        EXPECT_TRUE(linkUp || msSince(start) >= 1400) << "the command waits for its reply";
        EXPECT_EQ(endStatus(device, linkUp), 0);
        EXPECT_EQ(zuzFrom(device, "E: odd"), (linkUp ? std::vector<std::string>{"E: odd", "U"}
                                                     : std::vector<std::string>{"E: odd"}));
        EXPECT_EQ(ptyLocalModes(ttyOf(device)) & (ICANON | ECHO | ISIG),
                  tcflag_t(ICANON | ECHO | ISIG));
        EXPECT_EQ(device.output().find("fff"), npos);
    }
}

// Listener lines that clean to nothing are skipped; NULs go and turn the "%"s of their
// line into blanks, in replies and output alike; the longest line is shown whole. One
// byte more ends the listener's reader, which logs why: commands still work, their
// output is lost. Mirrored lines, the shell's own too, are never formats, and a dead
// syslogd is still handed every one. At last zuz answers "prime" and the next eight
// lines ahead, then reads nothing for 11 s: the shell sends those eight at once (each
// has its answer) and waits for the ninth answer; what is typed meanwhile waits in the
// terminal. When zuz reads again, every line arrives whole and in order.
TEST(FaultsApplication, AnUnreadableLineOrAStalledPeerCostsNoLineAndNoOrder) {
    std::string answers;
    for (int i = 0; i < 8; ++i)
        answers += "R: 0\\n";
    const std::string longest(16383, 'a');
    DeviceSession device(
        withRules("exact \"E: prime\" => reply 0; sendraw \"" + answers + "\"; delay 11000\n" +
                  "exact \"E: %n%s\" => datagram \"\\r\\na\\0b%n%s\\n100%d %x\\n" + longest +
                  "\\n\"; sendraw \"R: -\\x005%s\\n\"; noreply\nexact \"E: big\" => datagram \"" +
                  std::string(16384, 'b') + "\\n\"; reply 0\n"));
    ASSERT_TRUE(waitForLoop(device));
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
    EXPECT_TRUE(waitForRecord(device, ":OUT: 1  %n%s"));
    device.type("big\r");
    EXPECT_TRUE(waitForRecord(
        device, ":CRITICAL: XCOM buffer is full without new line, current buffer length: 16385"));
    device.type("echo lost\r");
    EXPECT_TRUE(device.waitForZuzLine("E: echo lost"));
    EXPECT_FALSE(device.waitFor("\nlost", 300ms));
    EXPECT_EQ(device.output().find("bbb"), npos);
    int critical = 0;
    for (const auto &message : velaRecords(device))
        critical += message.find(":CRITICAL:") != npos;
    EXPECT_EQ(critical, 1);
    ASSERT_TRUE(device.waitFor(shown("error: command not found")));
    ASSERT_TRUE(device.signalDaemon("syslogd", SIGKILL));
    ASSERT_TRUE(eventually([&] { return device.runInDevice({"pidof", "syslogd"}).status != 0; }));
    for (int i = 0; i < 30; ++i) {
        device.type("nosuch\r");
        EXPECT_TRUE(device.waitFor(shown("error: command not found"))) << i;
    }
    device.type("prime\r");
    ASSERT_TRUE(device.waitForZuzLine("E: prime"));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> typed;
    for (int i = 0; i < 20; ++i) {
        const std::string line = "echo " + std::to_string(i) + " ";
        typed.push_back("E: " + line + std::string(500 - line.size(), 'p'));
        device.type(typed.back().substr(3) + "\r");
    }
    ASSERT_TRUE(device.waitForZuzLine(typed.back(), std::chrono::seconds(15)));
    EXPECT_GE(msSince(start), 10500);
    EXPECT_EQ(zuzFrom(device, typed.front()), typed);
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}
