// The command loop on the simulated device: the empty-line prompt, line ends without
// echo and the reboot dialogue. (A lost or speechless application: tests/e2e/faults;
// quit and exit: tests/e2e/commands and the soak.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

// A program on the API port turns echo off and ends its lines with LF or CR LF: the LF
// after a CR is an empty line, which shows the prompt as a blank one does. Then every
// answer to the reboot question.
TEST(SpineLoop, EmptyLinesLineEndsAndEveryAnswerToTheRebootQuestion) {
    ShellSession echo(keptUp(shellWith({"-t", "api", "--nobanner"})), ShellSession::kReady);
    ShellSession noecho(keptUp(shellWith({"-t", "api", "--nobanner", "--noecho"})),
                        ShellSession::kReady);
    ShellSession asked(keptUp(shellWith({"-t", "telnet"})), ShellSession::kReady);
    for (ShellSession *device : {&echo, &noecho}) {
        for (const char *line : {"\r", "   \r"}) {
            device->type(line);
            EXPECT_TRUE(device->waitFor("-> "));
        }
    }
    EXPECT_EQ(echo.output(), "\r\n->    \r\n-> ");
    EXPECT_EQ(noecho.output(), "\r\r\n-> \r\r\n-> ");
    // Confirmed: runs alongside the other answers, since it takes two seconds.
    const std::string question = "reboot, are you sure? <y,n> ";
    echo.type("reboot\r");
    EXPECT_TRUE(converse(echo, {{question, "y\r"}}));
    noecho.type("echo a\r\n");
    EXPECT_TRUE(noecho.waitFor("-> ")) << "the empty line after the CR";
    noecho.type("echo b\n");
    EXPECT_TRUE(noecho.waitForZuzLine("E: echo b"));
    noecho.type("\x04");
    EXPECT_EQ(endStatus(noecho), 0);
    EXPECT_EQ(zuzCount(noecho, "E: echo ", true), 2);
    // The registration, two settings, the clearing of one: nothing of the empty lines.
    EXPECT_EQ(noecho.zuzReceived().size(), 7u);
    EXPECT_EQ(count(noecho.output(), "-> "), 3u);

    const std::string aborted = shown("info: reboot command aborted");
    // Each answer and how often it shows "aborted"; the question is not asked again.
    for (const auto &[answer, times] : {std::pair{"n", 0u}, {"no", 1u}, {"reboot", 1u}}) {
        asked.type("reboot\r");
        EXPECT_TRUE(asked.waitFor(question));
        const std::string shown = asked.runThenSync(answer);
        EXPECT_EQ(count(shown, aborted), times) << answer;
        EXPECT_EQ(count(shown, "info:") + count(shown, question), times) << answer;
    }
    asked.type("reboot\r");
    EXPECT_TRUE(converse(asked, {{question, "x\r"}}));  // any other single character quits
    EXPECT_EQ(endStatus(asked), 0);
    EXPECT_EQ(zuzCount(asked, "C: ", true), 0) << "nothing of the dialogue is sent";
    EXPECT_EQ(zuzFrom(asked, kClear23), (Lines{kClear23, "U"}));
    // zuz's record of the end comes after anything the shell wrote: a telnet session
    // writes no API records.
    EXPECT_TRUE(waitForRecord(asked, "session ended"));
    EXPECT_TRUE(velaRecords(asked).empty());

    EXPECT_EQ(endStatus(echo), 0);
    // The registration, two settings, the reboot: nothing of the empty lines.
    EXPECT_EQ(echo.zuzReceived().size(), 5u);
    EXPECT_EQ(zuzFrom(echo, "E: reboot now"), (Lines{"E: reboot now", "U"}));
    const std::string end = "API:" + sessionName(echo) + ":2:End of session";
    EXPECT_TRUE(waitForRecord(echo, end));
    EXPECT_EQ(velaRecords(echo).back(), end);
}
