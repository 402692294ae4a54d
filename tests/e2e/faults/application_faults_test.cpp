// An application that misbehaves: it floods, sends over-long, empty or unclean lines,
// never answers, or stops reading. Each test names the outcome it expects; none may hang
// the shell. (A link that ends or a reply without a code: tests/e2e/spine.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kClosedByPeer = shown("error: session is closed by peer");

// A shell of type api (whose screen has no live log) or telnet, kept up by sh.
DeviceOptions withRules(const std::string &type, const std::string &rules) {
    DeviceOptions options = keptUp(shellWith({"-t", type, "--nobanner"}));
    options.zuzRules = rules;
    return options;
}

// The vela records that begin with prefix.
std::vector<std::string> recordsStartingWith(const DeviceSession &device,
                                             const std::string &prefix) {
    std::vector<std::string> found;
    for (const auto &message : velaRecords(device))
        if (message.rfind(prefix, 0) == 0) found.push_back(message);
    return found;
}

}  // namespace

TEST(FaultsApplication, FloodWithoutLineEndOrAnEmptyXcomLineEndsTheLinkNotTheShell) {
    // Once the link's reader gave up, nothing waits for a reply; its socket still takes
    // the unregistration.
    for (const std::string &action : {"sendraw \"" + std::string(40000, 'f') + "\"; noreply",
                                      std::string("send \"\"; reply 0")}) {
        SCOPED_TRACE(action.substr(0, 20));
        DeviceSession device(withRules("api", "exact \"E: odd\" => " + action + "\n"));
        ASSERT_TRUE(waitForLoop(device));
        device.type("odd\r");
        EXPECT_TRUE(device.waitFor(kClosedByPeer));
        EXPECT_EQ(endStatus(device), 0);
        EXPECT_EQ(zuzFrom(device, "E: odd"), (std::vector<std::string>{"E: odd", "U"}));
        EXPECT_EQ(device.output().find("fff"), std::string::npos);
    }
}

TEST(FaultsApplication, ListenerLineOf16385BytesEndsOnlyTheEventReader) {
    // Lines that clean to nothing are skipped; the longest line (16384 bytes with its LF)
    // is shown whole; one byte more ends the listener's reader, which logs why; commands
    // still work, their output is lost.
    DeviceSession device(withRules("api", "exact \"E: big\" => datagram \"\\r\\n" +
                                              std::string(16383, 'a') + "\\n\"; datagram \"" +
                                              std::string(16384, 'b') + "\\n\"; reply 0\n"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string api = "API:" + sessionName(device) + ":1:";
    device.type("big\r");
    EXPECT_TRUE(device.waitFor("big\r\n" + std::string(16383, 'a') + "\r\n"));
    EXPECT_TRUE(eventually([&] {
        return !recordsStartingWith(device, api + "CRITICAL: XCOM buffer is full").empty();
    }));
    EXPECT_EQ(recordsStartingWith(device, api + "CRITICAL:"),
              (std::vector<std::string>{api + "CRITICAL: XCOM buffer is full without new line, "
                                              "current buffer length: 16385"}));
    device.type("nosuch\r");
    EXPECT_TRUE(device.waitFor(shown("error: command not found")));
    device.type("echo lost\r");
    EXPECT_TRUE(device.waitForZuzLine("E: echo lost"));
    EXPECT_FALSE(device.waitFor("\nlost", std::chrono::milliseconds(300)));
    EXPECT_EQ(device.output().find("bbb"), std::string::npos);
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}

TEST(FaultsApplication, NulsTurnPercentSignsIntoBlanksAndNothingIsAFormat) {
    // A line with NULs loses them and its "%"s become blanks, in replies and output
    // alike; a line without NULs keeps its "%"s. Shown and logged the same way.
    DeviceSession device(
        withRules("api",
                  "exact \"E: nul\" => datagram \"a\\0b%n%s\\n100%d %x\\n\"; sendraw \"R: "
                  "-\\x005%s\\n\"; noreply\n"));
    ASSERT_TRUE(waitForLoop(device));
    device.type("nul\r");
    // The reply and the two lines come on different roads, so in any order; the line
    // count in a record depends on how far the loop got meanwhile.
    for (const std::string text : {"ab n s", "100%d %x", "error: command not found"}) {
        EXPECT_TRUE(eventually([&] {
            return device.output().find("\n" + text + "\r") != std::string::npos;
        })) << text;
        EXPECT_TRUE(waitForRecord(device, ":OUT:" + text)) << text;
    }
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}

TEST(FaultsApplication, UnansweredCommandWaitsUntilTheApplicationClosesThenEndsAsClosedByPeer) {
    DeviceSession device(withRules("telnet", "exact \"C: stuck\" => noreply; delay 1500; drop\n"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device);
    const auto start = std::chrono::steady_clock::now();
    device.type("stuck\r");
    EXPECT_TRUE(device.waitFor(kClosedByPeer));
    EXPECT_GE(msSince(start), 1400) << "the exchange waits for its reply";
    EXPECT_LT(msSince(start), 3000) << "and ends as soon as the link does";
    EXPECT_EQ(endStatus(device, false), 0);
    EXPECT_EQ(ptyLocalModes(tty) & (ICANON | ECHO | ISIG), tcflag_t(ICANON | ECHO | ISIG));
}

TEST(FaultsApplication, PeerThatStopsReadingForOverTenSecondsLosesNoLineAndNoOrder) {
    // zuz answers "prime" and the next eight lines ahead, then reads nothing for 11 s.
    // The shell sends those eight at once (each has its answer) and waits for the ninth
    // answer; what is typed meanwhile waits in the terminal. When zuz reads again, every
    // line arrives whole and in order, and the session goes on.
    std::string answers;
    for (int i = 0; i < 8; ++i)
        answers += "R: 0\\n";
    DeviceSession device(withRules(
        "telnet", "exact \"C: prime\" => reply 0; sendraw \"" + answers + "\"; delay 11000\n"));
    ASSERT_TRUE(waitForLoop(device));
    device.type("prime\r");
    ASSERT_TRUE(device.waitForZuzLine("C: prime"));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> typed;
    std::string paste;
    for (int i = 0; i < 20; ++i) {
        std::string line = "echo " + std::to_string(i) + " ";
        typed.push_back("C: " + line + std::string(500 - line.size(), 'p'));
        paste += typed.back().substr(3) + "\r";
    }
    device.type(paste);
    ASSERT_TRUE(device.waitForZuzLine(typed.back(), std::chrono::seconds(15)));
    EXPECT_GE(msSince(start), 10500);
    EXPECT_EQ(zuzFrom(device, typed.front()), typed);
    EXPECT_NE(exchange(device, "version").find("libxcom 0.0.1"), std::string::npos);
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}
