// The command loop on the simulated device: a lost or speechless application, the
// empty-line prompt, quit and exit, a hang-up and the reboot dialogue.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::vector<std::string> kClosingLines = {kClear23, "U"};

}  // namespace

// A dropped link, and a reply without a code while the link stays up, both end the
// session; the terminal is restored, and only a link still up gets the "U".
TEST(SpineLoop, ALostOrSpeechlessApplicationEndsTheSession) {
    for (const auto &[action, linkUp] : {std::pair{"drop", false},
                                         {"send \"R\"; noreply", true},
                                         {"send \"R:\"; noreply", true}}) {
        SCOPED_TRACE(action);
        DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
        options.zuzRules = std::string("exact \"C: bye\" => ") + action + "\n";
        DeviceSession device(options);
        ASSERT_TRUE(waitForLoop(device));
        device.type("bye\r");
        EXPECT_TRUE(
            converse(device, {{"bye\r\n", ""}, {shown("error: session is closed by peer"), ""}}));
        EXPECT_EQ(endStatus(device, linkUp), 0);
        EXPECT_EQ(ptyLocalModes(ttyOf(device)) & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
        EXPECT_EQ(device.zuzReceived().back(), linkUp ? "U" : "C: bye");
    }
}

TEST(SpineLoop, EmptyAndBlankLinesShowThePrompt) {
    DeviceSession echo(keptUp(shellWith({"-t", "api", "--nobanner"})));
    DeviceSession noecho(keptUp(shellWith({"-t", "api", "--nobanner", "--noecho"})));
    for (DeviceSession *device : {&echo, &noecho}) {
        ASSERT_TRUE(waitForLoop(*device));
        device->type("\r");
        EXPECT_TRUE(device->waitFor("-> "));
        device->type("   \r");
        EXPECT_TRUE(device->waitFor("-> "));
        device->type("\x04");
        EXPECT_EQ(endStatus(*device), 0);
        // The registration, two settings, the clearing of one: nothing of the lines.
        EXPECT_EQ(device->zuzReceived().size(), 5u);
    }
    EXPECT_EQ(echo.output(), "\r\n->    \r\n-> [status 0]\r\n");
    EXPECT_EQ(noecho.output(), "\r\r\n-> \r\r\n-> [status 0]\r\n");
}

// A program on the API port turns echo off and ends its lines with LF or CR LF, whatever
// line ends the device is set to.
TEST(SpineLoop, WithoutEchoEveryLineEndEndsALine) {
    DeviceSession device(
        keptUp(shellWith({"-t", "api", "--nobanner", "--noecho"}, {{"eol", "False"}})));
    ASSERT_TRUE(waitForLoop(device));
    device.type("echo a\r\n");
    EXPECT_TRUE(device.waitForZuzLine("E: echo a"));
    EXPECT_TRUE(device.waitFor("\r\n-> ")) << "the empty line after the CR";
    device.type("echo b\n");
    EXPECT_TRUE(device.waitForZuzLine("E: echo b"));
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_EQ(count(device.output(), "-> "), 1u);
}

// Quit, exit and a hang-up clear the client setting, then unregister.
TEST(SpineLoop, QuitExitAndHangUpEndTheSession) {
    DeviceSession quit(keptUp(shellWith({"-t", "telnet"})));
    DeviceSession exit(keptUp(shellWith({"-t", "telnet"})));
    DeviceSession hangUp(keptUp(shellWith({"-t", "telnet"})));
    ASSERT_TRUE(waitForLoop(quit) && waitForLoop(exit) && waitForLoop(hangUp));
    quit.type("quit\r");
    exit.type("  exit  \r");
    hangUp.type("vers");
    ASSERT_TRUE(hangUp.waitFor("vers"));
    hangUp.closeTerminal();
    for (DeviceSession *device : {&quit, &exit}) {
        EXPECT_EQ(endStatus(*device), 0);
        EXPECT_EQ(zuzFrom(*device, kLoopReady),
                  (std::vector<std::string>{kLoopReady, kClear23, "U"}));
    }
    EXPECT_TRUE(hangUp.waitForZuzLine("U"));
    EXPECT_EQ(zuzFrom(hangUp, kClear23), kClosingLines);
}

TEST(SpineLoop, EveryAnswerToTheRebootQuestion) {
    DeviceSession asked(keptUp(shellWith({"-t", "telnet"})));
    DeviceSession confirmed(keptUp(shellWith({"-t", "api", "--nobanner"})));
    ASSERT_TRUE(waitForLoop(asked) && waitForLoop(confirmed));
    // Confirmed: runs alongside the other answers, since it takes two seconds.
    const std::string question = "reboot, are you sure? <y,n> ";
    confirmed.type("reboot\r");
    EXPECT_TRUE(converse(confirmed, {{question, "y\r"}}));

    const std::string aborted = shown("info: reboot command aborted");
    // Each answer and how often it shows "aborted"; the question is not asked again.
    for (const auto &[answer, times] : {std::pair{"n", 0u}, {"no", 1u}, {"reboot", 1u}}) {
        asked.type("reboot\r");
        EXPECT_TRUE(asked.waitFor(question));
        const std::string shown = exchange(asked, answer);
        EXPECT_EQ(count(shown, aborted), times) << answer;
        EXPECT_EQ(count(shown, "info:") + count(shown, question), times) << answer;
    }
    asked.type("reboot\r");
    EXPECT_TRUE(converse(asked, {{question, "x\r"}}));  // any other single character quits
    EXPECT_EQ(endStatus(asked), 0);
    for (const auto &line : asked.zuzReceived())
        EXPECT_TRUE(line.rfind("C: echo marker", 0) == 0 || line.rfind("C: ", 0) != 0) << line;
    EXPECT_EQ(zuzFrom(asked, kClear23), kClosingLines);
    // zuz's record of the end comes after anything the shell wrote: a telnet session
    // writes no API records.
    EXPECT_TRUE(waitForRecord(asked, "session ended"));
    EXPECT_TRUE(velaRecords(asked).empty());

    EXPECT_EQ(endStatus(confirmed), 0);
    EXPECT_EQ(zuzFrom(confirmed, "E: reboot now"),
              (std::vector<std::string>{"E: reboot now", "U"}));
    const std::string end = "API:" + sessionName(confirmed) + ":2:End of session";
    EXPECT_TRUE(waitForRecord(confirmed, end));
    EXPECT_EQ(velaRecords(confirmed).back(), end);
}
