// The shell's simple local commands, end to end: what each prints, what reaches zuz,
// and how history, repeat and the command modes behave in a real session.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kNeedsMore =
    shown("error: command needs more parameters to execute successfully");
const std::string kIllegal = shown("error: command has illegal parameter(s)");
const std::string kIllegalCmdecho = shown("error: command has illegal parameters");
const std::string kOutOfRange = shown("error: value out of range. valid range 1..64");
const std::string kBadReference = shown("error: invalid command history reference");
const std::string kHistoryEnd = "history success\r\r\n";

}  // namespace

// Each line and the shell's whole answer to it; none reaches zuz. At first only the
// repeat line itself is in the history: entry 1, then entry 2, is the line itself. Then
// the echo of typed lines switched off and on, and an "exit" with an argument.
TEST(CommandsSimple, AnswersOfTheLocalCommands) {
    ShellSession shell;
    const std::string on = shown("prompt enabled"), off = shown("prompt disabled");
    // clang-format off
    const std::pair<const char *, std::string> cases[] = {
        {"repeat 1", kBadReference}, {"repeat 2", kBadReference}, {"repeat 0", kOutOfRange},
        {"repeat 65", kOutOfRange}, {"repeat x", kOutOfRange}, {"! -3", kOutOfRange},
        {"repeat", kIllegal}, {"repeat 1 2", kIllegal}, {"!", kIllegal},
        {"session", kNeedsMore}, {"session bogus x", kIllegal}, {"session name", kNeedsMore},
        {"session find a b", kIllegal}, {"cmdecho", kNeedsMore}, {"cmdecho ON", kIllegalCmdecho},
        {"cmdecho on extra", kIllegalCmdecho}, {"cmdecho %n", kIllegalCmdecho}, {"prompt", off},
        {"prompt", on}, {"prompt on", on}, {"prompt OFF", off}, {"prompt maybe", on}};
    // clang-format on
    for (const auto &[line, answer] : cases)
        EXPECT_EQ(shell.run(line, answer), answer) << line;
    EXPECT_TRUE(shell.newZuzLines().empty());
    EXPECT_EQ(shell.run("cmdecho off", "\n"), "cmdecho off\r\r\n");
    // Nothing typed comes back now; an empty line gets the line end before the prompt.
    EXPECT_EQ(shell.run("test secret", "argv[1]=secret\r\r\n", false),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=secret\r\r\n");
    EXPECT_EQ(shell.run("", "-> ", false), "\r\r\n-> ");
    EXPECT_EQ(shell.run("cmdecho on", "cmdecho on\r\r\n", false), "cmdecho on\r\r\n");
    EXPECT_EQ(shell.run("test loud", "argv[1]=loud\r\r\n"),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=loud\r\r\n");
    EXPECT_EQ(shell.run("", "-> ", false), "\r\n-> ") << "the echo of Enter, then the prompt";
    // "exit" with an argument ends at once: only the clean-up runs, the client setting is
    // not cleared (that waits for a reply). The "U" may be lost as the device ends.
    shell.device().type("exit now\r");
    EXPECT_EQ(shell.device().waitExit(), 0);
    for (const auto &line : shell.newZuzLines())
        EXPECT_EQ(line, "U");
}

TEST(CommandsSimple, HistoryAndRepeat) {
    ShellSession shell;
    // The history line is recorded before it runs, so the list is never empty.
    EXPECT_EQ(shell.run("history", kHistoryEnd),
              "command history:\r\r\n 1  history\r\r\n"
              "1 commands (only the last 64 shown)\r\r\n" +
                  kHistoryEnd);
    shell.run("# a comment", "");
    shell.forward("echo one", "C: echo one");
    shell.device().type("setpassword s3cret\r");  // lines with a password are never kept
    shell.forward("echo two", "C: echo two");
    shell.forward("repeat 3", "C: echo one");
    shell.forward("!4", "C: echo two");
    // A repeated line goes to zuz even when it was a local command.
    shell.run("test x", "argv[1]=x\r\r\n");
    shell.forward("repeat 7", "C: test x");
    // Only the low 32 bits of the number count: 4294967299 names entry 3.
    shell.forward("repeat 4294967299", "C: echo one");
    EXPECT_EQ(shell.run("hist", "hist success\r\r\n"),
              "command history:\r\r\n 1  history\r\r\n 2  # a comment\r\r\n 3  echo one\r\r\n"
              " 4  echo two\r\r\n 5  echo one\r\r\n 6  echo two\r\r\n 7  test x\r\r\n"
              " 8  test x\r\r\n 9  echo one\r\r\n10  hist\r\r\n"
              "10 commands (only the last 64 shown)\r\r\nhist success\r\r\n");
    shell.run("apicmds", "mode...\r\r\n");
    shell.forward("! 4", "E: echo two");  // under the current prefix
    for (const auto &line : shell.newZuzLines())
        EXPECT_EQ(line.find("repeat"), std::string::npos) << line;
    shell.end();
}

TEST(CommandsSimple, FullHistoryWrapsAndRepeatsItsNewestSlot) {
    ShellSession shell;
    std::string typed;
    for (int i = 1; i <= 69; ++i)
        typed += "#" + std::to_string(i) + "\r";
    shell.device().type(typed);
    const std::string list = shell.run("history", kHistoryEnd);
    // Line 70 went into slot 6; the oldest kept line, 7, is in slot 7.
    std::string expected = "command history:\r\r\n";
    for (int line = 7; line <= 69; ++line) {
        char row[32];
        snprintf(row, sizeof row, "%2d  #%d\r\r\n", (line - 1) % 64 + 1, line);
        expected += row;
    }
    expected += " 6  history\r\r\n64 commands (only the last 64 shown)\r\r\n" + kHistoryEnd;
    EXPECT_EQ(list.substr(list.find("command history:")), expected);
    // Line 71 lands in slot 7: naming it repeats the repeat line itself.
    shell.forward("repeat 7", "C: repeat 7");
    shell.forward("repeat 64", "C: #64");
    shell.end();
}

// Comments and invalid lines stay; api, sys and kbox send their words; capitalised
// words are not the shell's.
TEST(CommandsModes, WhatIsForwarded) {
    ShellSession shell;
    shell.device().type("# remark\r   #indented remark\r");
    EXPECT_EQ(shell.run("test \"ends in \\", "Invalid command\r\r\n", false),
              "# remark\r\n   #indented remark\r\ntest \"ends in \\\r\nInvalid command\r\r\n");
    for (const std::string alone : {"api", "sys", "kbox"})
        EXPECT_EQ(shell.runThenSync(alone), alone + "\r\n");  // nothing to send
    const std::pair<const char *, const char *> forwarded[] = {{"api a  b", "E: a b"},
                                                               {"kbox a  b", "D: a b"},
                                                               {"sys   version  ", "D: version"},
                                                               {"Exit", "C: Exit"},
                                                               {"TEST a", "C: TEST a"}};
    std::vector<std::string> sent;
    for (const auto &[line, zuzLine] : forwarded) {
        shell.forward(line, zuzLine);
        sent.push_back(zuzLine);
    }
    EXPECT_EQ(shell.newZuzLines(), sent);
    EXPECT_TRUE(shell.device().waitFor("zuz 2.4.1 (simulated device)"));
    shell.end();
}

TEST(CommandsModes, CustomerApiModeKeepsOnlyTheCommonCommandsLocal) {
    ShellSession shell;
    EXPECT_EQ(shell.run("apicmds now", "\n"),
              "Entering sticky customer api commands *ONLY* mode...\r\r\n");
    EXPECT_EQ(shell.run("history", kHistoryEnd).substr(0, 18), "command history:\r\r");
    for (const std::string line : {"log", "test a", "apicmds", "devcmds", "sys version", "show"})
        shell.forward(line, "E: " + line);
    // Wait for the application's answer: it may otherwise land after the next command.
    shell.run("session name R2", "session name: R2\r\n");
    const std::string found = "found R2 on " + ttyOf(shell.device()) + "\r\n";
    EXPECT_EQ(shell.run("session find R2", found), found);
    EXPECT_EQ(shell.run("shell", "\n"), "error: command not found\r\r\n");
    EXPECT_EQ(shell.run("printenv", "bootdelay=3\r\n").substr(0, 16), "baudrate=115200\r");
    EXPECT_EQ(shell.newZuzLines(),
              (std::vector<std::string>{"E: log", "E: test a", "E: apicmds", "E: devcmds",
                                        "E: sys version", "E: show", "N: name R2", "N: find R2"}));
    shell.end();
}

TEST(CommandsModes, InternalModeForwardsWithItsPrefix) {
    ShellSession shell;
    EXPECT_EQ(shell.run("devcmds", "\n"), "Entering sticky internal commands *ONLY* mode...\r\r\n");
    for (const std::string line : {"status", "api x", "apicmds", "show", "crashreport enable"})
        shell.forward(line, "D: " + line);
    EXPECT_EQ(shell.run("cmdecho on", "\n"), "cmdecho on\r\r\n");
    shell.end();
}

TEST(CommandsBadInput, PercentSignsAndControlBytesStayLiteral) {
    ShellSession shell;
    EXPECT_EQ(shell.run("test \"%s%n%x\" \"\\x01\" \"\\x1b[2J\" 100%", "100%\r\r\n"),
              "argc=5\r\r\nargv[0]=test\r\r\nargv[1]=%s%n%x\r\r\nargv[2]=\x01\r\r\n"
              "argv[3]=\x1b[2J\r\r\nargv[4]=100%\r\r\n");
    shell.forward("echo %s %n", "C: echo %s %n");
    shell.forward("session name \"%n%s\"", "N: name %n%s");
    shell.forward("kbox %n%s", "D: %n%s");
    shell.runThenSync("setenv pct \"%s%n\\x1b\"");
    EXPECT_EQ(shell.device().state().toolInvocations().back(),
              (std::vector<std::string>{"fw_setenv", "pct", "%s%n\x1b"}));
    shell.runThenSync("show add %s%n");
    EXPECT_EQ(shell.run("show", "\"%s%n\"\r\r\n"),
              "Active show filters:\r\r\n--------------------\r\r\n\"%s%n\"\r\r\n");
    EXPECT_NE(shell.run("history", kHistoryEnd).find(" 2  echo %s %n\r\r\n"), std::string::npos);
    shell.end();
}
