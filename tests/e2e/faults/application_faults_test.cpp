// An application that misbehaves: it dies, floods, sends over-long, empty or unclean
// lines, never answers, or stops reading. Each test names the outcome it expects; none
// may hang the shell or leave the terminal in the editor's modes.
#include <gtest/gtest.h>
#include <signal.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kClosedByPeer = shown("error: session is closed by peer");
const std::string kNotFound = shown("error: command not found");

DeviceOptions telnetKeptUp(const std::string &rules) {
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
    options.zuzRules = rules;
    return options;
}

DeviceOptions apiKeptUp(const std::string &rules) {
    DeviceOptions options = keptUp(shellWith({"-t", "api", "--nobanner"}));
    options.zuzRules = rules;
    return options;
}

// Editing modes are off again: the terminal reads lines and echoes.
void expectModesRestored(const std::string &tty) {
    const tcflag_t modes = ptyLocalModes(tty);
    EXPECT_TRUE(modes & ICANON) << tty;
    EXPECT_TRUE(modes & ECHO) << tty;
    EXPECT_TRUE(modes & ISIG) << tty;
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

TEST(FaultsApplication, KilledMidCommandEndsTheSessionAsClosedByPeerAtOnce) {
    DeviceSession device(
        telnetKeptUp("exact \"C: slow\" => datagram \"partial\\n\"; delay 30000; run\n"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device);
    device.type("slow\r");
    ASSERT_TRUE(device.waitFor("partial\r\n"));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.signalDaemon("zuz", SIGKILL));
    EXPECT_TRUE(device.waitFor(kClosedByPeer));
    EXPECT_EQ(endStatus(device, false), 0);
    EXPECT_LT(msSince(start), 2000);
    expectModesRestored(tty);
}

TEST(FaultsApplication, FortyThousandBytesWithoutALineEndEndTheLinkNotTheShell) {
    DeviceSession device(telnetKeptUp("exact \"C: flood\" => sendraw \"" + std::string(40000, 'f') +
                                      "\"; noreply\n"));
    ASSERT_TRUE(waitForLoop(device));
    device.type("flood\r");
    EXPECT_TRUE(device.waitFor(kClosedByPeer));
    // The link's reader gave up; its socket still takes the unregistration.
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_EQ(zuzFrom(device, "C: flood"), (std::vector<std::string>{"C: flood", "U"}));
    EXPECT_EQ(device.output().find("fff"), std::string::npos);
}

TEST(FaultsApplication, ListenerLineOf16385BytesEndsOnlyTheEventReader) {
    // The longest line (16384 bytes with its LF) is shown whole; one byte more ends the
    // listener's reader, which logs why; commands still work, their output is lost.
    DeviceSession device(apiKeptUp("exact \"E: big\" => datagram \"" + std::string(16383, 'a') +
                                   "\\n\"; datagram \"" + std::string(16384, 'b') +
                                   "\\n\"; reply 0\n"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string api = "API:" + sessionName(device) + ":1:";
    device.type("big\r");
    EXPECT_TRUE(device.waitFor(std::string(16383, 'a') + "\r\n"));
    EXPECT_TRUE(eventually([&] {
        return !recordsStartingWith(device, api + "CRITICAL: XCOM buffer is full").empty();
    }));
    EXPECT_EQ(recordsStartingWith(device, api + "CRITICAL:"),
              (std::vector<std::string>{api + "CRITICAL: XCOM buffer is full without new line, "
                                              "current buffer length: 16385"}));
    device.type("nosuch\r");
    EXPECT_TRUE(device.waitFor(kNotFound));
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
        apiKeptUp("exact \"E: nul\" => datagram \"a\\0b%n%s\\n100%d %x\\n\"; sendraw \"R: "
                  "-\\x005%s\\n\"; noreply\n"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string name = sessionName(device);
    device.type("nul\r");
    // The reply and the two lines come on different roads: in any order.
    for (const std::string &text :
         {std::string("\nab n s\r\n"), std::string("\n100%d %x\r\n"), "\n" + kNotFound})
        EXPECT_TRUE(eventually([&] { return device.output().find(text) != std::string::npos; }))
            << text << " in " << device.output();
    // The line count in a record depends on how far the loop got meanwhile.
    for (const std::string text : {":OUT:ab n s", ":OUT:100%d %x"}) {
        EXPECT_TRUE(eventually([&] {
            for (const auto &message : recordsStartingWith(device, "API:" + name + ":"))
                if (message.size() > text.size() &&
                    message.compare(message.size() - text.size(), text.size(), text) == 0)
                    return true;
            return false;
        })) << text;
    }
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}

TEST(FaultsApplication, EmptyListenerLinesAreSkippedAnEmptyXcomLineEndsTheLink) {
    // An api session: no live log lines come between.
    DeviceSession device(
        apiKeptUp("exact \"E: blank\" => datagram \"\\n\\r\\nshown\\n\"; reply 0\n"
                  "exact \"E: hush\" => send \"\"; reply 0\n"));
    ASSERT_TRUE(waitForLoop(device));
    device.type("blank\r");
    EXPECT_TRUE(device.waitFor("blank\r\nshown\r\n")) << "no empty lines before it";
    device.type("hush\r");
    EXPECT_TRUE(device.waitFor(kClosedByPeer));
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_EQ(zuzFrom(device, "E: hush"), (std::vector<std::string>{"E: hush", "U"}))
        << "nothing waits for a reply once the link has ended";
}

TEST(FaultsApplication, UnansweredCommandWaitsUntilTheApplicationClosesThenEndsAsClosedByPeer) {
    DeviceSession device(telnetKeptUp("exact \"C: stuck\" => noreply; delay 1500; drop\n"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device);
    const auto start = std::chrono::steady_clock::now();
    device.type("stuck\r");
    EXPECT_TRUE(device.waitFor(kClosedByPeer));
    EXPECT_GE(msSince(start), 1400) << "the exchange waits for its reply";
    EXPECT_EQ(endStatus(device, false), 0);
    expectModesRestored(tty);
}

TEST(FaultsApplication, HangUpEndsAShellWaitingForAReplyThatNeverComes) {
    // The shell leads the terminal's session, as under a telnet daemon, so that the
    // hang-up reaches it; sh keeps the device up and records how the shell ended.
    DeviceOptions options = shellWith({});
    options.command = {"sh", "-c",
                       std::string("setsid --ctty ") + kDeviceVela +
                           " -t telnet; echo $? > /tmp/status; exec sleep 30"};
    options.zuzRules = "exact \"C: stuck\" => noreply\n";
    DeviceSession device(options);
    if (!waitForLoop(device)) {
        if (device.output().find("setsid") != std::string::npos)
            GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
        FAIL() << device.output();
    }
    device.type("stuck\r");
    ASSERT_TRUE(device.waitForZuzLine("C: stuck"));
    EXPECT_FALSE(device.waitFor(kClosedByPeer, std::chrono::milliseconds(500))) << "still waiting";
    const auto start = std::chrono::steady_clock::now();
    device.closeTerminal();
    std::optional<std::string> status;
    EXPECT_TRUE(eventually(
        [&] {
            status = deviceFile(device, "/tmp/status");
            return status && !status->empty();  // sh creates the file, then writes it
        },
        std::chrono::seconds(6)));
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(status, "129\n") << "ended by the hang-up, as an uncaught SIGHUP would";
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzFrom(device, "C: stuck"), (std::vector<std::string>{"C: stuck", kClear23, "U"}));
}

TEST(FaultsApplication, PeerThatStopsReadingForOverTenSecondsLosesNoLineAndNoOrder) {
    // zuz answers "prime" and the next eight lines ahead, then reads nothing for 11 s.
    // The shell sends those eight at once (each has its answer) and waits for the ninth
    // answer; what is typed meanwhile waits in the terminal. When zuz reads again, every
    // line arrives whole and in order, and the session goes on.
    std::string answers;
    for (int i = 0; i < 8; ++i)
        answers += "R: 0\\n";
    DeviceSession device(
        telnetKeptUp("exact \"C: prime\" => reply 0; sendraw \"" + answers + "\"; delay 11000\n"));
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
