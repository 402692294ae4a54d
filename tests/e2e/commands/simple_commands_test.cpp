// The local commands in a real session: what the loop records in the history and
// repeats, the echo switch, the sticky modes and their end, secrets on the link. What
// each command prints and sends is unit-tested (tests/shell/commands_test.cpp; the
// secret words' shapes: tests/shell/secret_words_test.cpp).
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

// The loop records each line before it runs (comments too, password lines never); a
// repeat replaces its own entry with the line it repeats and sends it, local or not.
// The secret words of a password command leave only in hex. Without echo nothing typed
// comes back, and an empty line gets its line end before the prompt. "exit" with words
// ends at once: only the clean-up runs.
TEST(CommandsSimple, HistoryRepeatEchoAndExit) {
    ShellSession shell;
    shell.run("# a comment", "");
    shell.forward("echo one", "C: echo one");
    shell.forward("setpassword admin x Secret1 Secret2",
                  "C: setpassword admin x " + hexEncoded("Secret1") + " " + hexEncoded("Secret2"));
    shell.forward("kbox webmonitoring \"Secret 3\" off",
                  "D: webmonitoring " + hexEncoded("Secret 3") + " off");
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
    shell.type("exit now\r");
    EXPECT_EQ(shell.waitExit(), 0);
    for (const auto &line : shell.newZuzLines())
        EXPECT_EQ(line, "U") << "the client setting is not cleared; \"U\" may be lost";
    for (const auto &line : shell.zuzReceived())
        EXPECT_EQ(line.find("Secret"), std::string::npos) << line;
}

// The sticky modes frame what they forward, secrets too; "exit" leaves the customer API
// mode of a telnet session, "quit" in another mode ends the session.
TEST(CommandsModes, StickyModesAndTheirEnd) {
    ShellSession shell(keptUp(shellWith({"-t", "telnet"})), ShellSession::kReady);
    shell.type("apicmds\r");
    EXPECT_TRUE(shell.waitFor("Entering sticky customer api commands *ONLY* mode..."));
    shell.forward("setpassword admin x Secret4 Secret5",
                  "E: setpassword admin x " + hexEncoded("Secret4") + " " + hexEncoded("Secret5"));
    shell.type("exit\r");
    EXPECT_TRUE(shell.waitFor("Exiting customer api *ONLY* mode\r\n"));
    shell.type("devcmds\r");
    EXPECT_TRUE(shell.waitFor("Entering sticky internal commands *ONLY* mode..."));
    shell.forward("status", "D: status");
    shell.type("quit\r");
    EXPECT_EQ(endStatus(shell), 0);
    EXPECT_EQ(zuzFrom(shell, "D: status"), (Lines{"D: status", kClear23, "U"}));
}
