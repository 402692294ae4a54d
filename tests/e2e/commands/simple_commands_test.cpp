// The local commands in a real session: what the loop records in the history and
// repeats, the echo switch, the sticky modes and their end. What each command prints
// and sends is unit-tested (tests/shell/commands_test.cpp).
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

// The loop records each line before it runs (comments too, password lines never); a
// repeat replaces its own entry with the line it repeats and sends it, local or not.
// Without echo nothing typed comes back, and an empty line gets its line end before
// the prompt. "exit" with words ends at once: only the clean-up runs.
TEST(CommandsSimple, HistoryRepeatEchoAndExit) {
    ShellSession shell;
    shell.run("# a comment", "");
    shell.forward("echo one", "C: echo one");
    shell.device().type("setpassword s3cret\r");
    shell.forward("repeat 2", "C: echo one");
    shell.run("test x", "argv[1]=x\r\r\n");
    shell.forward("!4", "C: test x");
    EXPECT_EQ(shell.run("hist", "hist success\r\r\n"),
              "command history:\r\r\n 1  # a comment\r\r\n 2  echo one\r\r\n 3  echo one\r\r\n"
              " 4  test x\r\r\n 5  test x\r\r\n 6  hist\r\r\n"
              "6 commands (only the last 64 shown)\r\r\nhist success\r\r\n");
    EXPECT_EQ(shell.run("cmdecho off", "\n"), "cmdecho off\r\r\n");
    EXPECT_EQ(shell.run("test secret", "argv[1]=secret\r\r\n", false),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=secret\r\r\n");
    EXPECT_EQ(shell.run("", "-> ", false), "\r\r\n-> ");
    EXPECT_EQ(shell.run("cmdecho on", "cmdecho on\r\r\n", false), "cmdecho on\r\r\n");
    EXPECT_EQ(shell.run("", "-> ", false), "\r\n-> ") << "the echo of Enter, then the prompt";
    shell.newZuzLines();
    shell.device().type("exit now\r");
    EXPECT_EQ(shell.device().waitExit(), 0);
    for (const auto &line : shell.newZuzLines())
        EXPECT_EQ(line, "U") << "the client setting is not cleared; \"U\" may be lost";
}

// The sticky modes frame what they forward; "exit" leaves the customer API mode of a
// telnet session, "quit" in another mode ends the session.
TEST(CommandsModes, StickyModesAndTheirEnd) {
    DeviceSession device(keptUp(shellWith({"-t", "telnet"})));
    ASSERT_TRUE(waitForLoop(device));
    device.type("apicmds\r");
    EXPECT_TRUE(device.waitFor("Entering sticky customer api commands *ONLY* mode..."));
    device.type("test a\r");
    ASSERT_TRUE(device.waitForZuzLine("E: test a"));
    device.type("exit\r");
    EXPECT_TRUE(device.waitFor("Exiting customer api *ONLY* mode\r\n"));
    device.type("devcmds\r");
    EXPECT_TRUE(device.waitFor("Entering sticky internal commands *ONLY* mode..."));
    device.type("status\r");
    ASSERT_TRUE(device.waitForZuzLine("D: status"));
    device.type("quit\r");
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_EQ(zuzFrom(device, "D: status"), (std::vector<std::string>{"D: status", kClear23, "U"}));
}
