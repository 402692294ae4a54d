// The shell's simple local commands, end to end: what each prints, what reaches zuz,
// and how history, repeat and the command modes behave in a real session.
#include <gtest/gtest.h>

#include "ShellSession.h"

using namespace vela::test;

namespace {

const std::string kNeedsMore = "error: command needs more parameters to execute successfully\r\r\n";
const std::string kIllegal = "error: command has illegal parameter(s)\r\r\n";
const std::string kOutOfRange = "error: value out of range. valid range 1..64\r\r\n";
const std::string kBadReference = "error: invalid command history reference\r\r\n";

}  // namespace

TEST(CommandsSimple, TestPrintsEveryArgument) {
    ShellSession shell;
    EXPECT_EQ(shell.run("test a  \"b c\"", "argv[2]=b c\r\r\n"),
              "argc=3\r\r\nargv[0]=test\r\r\nargv[1]=a\r\r\nargv[2]=b c\r\r\n");
    shell.end();
}

TEST(CommandsSimple, SessionChecksItsWordsAndNamesTheSession) {
    ShellSession shell;
    EXPECT_EQ(shell.run("session", kNeedsMore), kNeedsMore);
    EXPECT_EQ(shell.run("session bogus x", kIllegal), kIllegal);
    EXPECT_EQ(shell.run("session name", kNeedsMore), kNeedsMore);
    EXPECT_EQ(shell.run("session find a b", kIllegal), kIllegal);
    EXPECT_TRUE(shell.newZuzLines().empty()) << "nothing was sent";

    EXPECT_EQ(shell.run("session name Room1", "Room1\r\n"), "session name: Room1\r\n");
    const std::string found = "found Room1 on " + shell.ttyName() + "\r\n";
    EXPECT_EQ(shell.run("session find Room1", found), found);
    EXPECT_EQ(shell.newZuzLines(), (std::vector<std::string>{"N: name Room1", "N: find Room1"}));
    shell.end();
}

TEST(CommandsSimple, PromptTogglesOrTakesOnAndOff) {
    ShellSession shell;
    const std::string on = "prompt enabled\r\r\n", off = "prompt disabled\r\r\n";
    EXPECT_EQ(shell.run("prompt", "\n"), off);
    EXPECT_EQ(shell.run("prompt", "\n"), on);
    EXPECT_EQ(shell.run("prompt on", "\n"), on);
    EXPECT_EQ(shell.run("prompt on", "\n"), on);
    EXPECT_EQ(shell.run("prompt OFF", "\n"), off);
    EXPECT_EQ(shell.run("prompt maybe", "\n"), on);
    shell.end();
}

TEST(CommandsSimple, CmdechoSwitchesTheEchoOfTypedLines) {
    ShellSession shell;
    const std::string bad = "error: command has illegal parameters\r\r\n";
    EXPECT_EQ(shell.run("cmdecho", kNeedsMore), kNeedsMore);
    EXPECT_EQ(shell.run("cmdecho ON", bad), bad);
    EXPECT_EQ(shell.run("cmdecho on extra", bad), bad);
    EXPECT_EQ(shell.run("cmdecho off", "\n"), "cmdecho off\r\r\n");
    // Nothing typed comes back now; an empty line gets the line end before the prompt.
    EXPECT_EQ(shell.run("test secret", "argv[1]=secret\r\r\n", false),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=secret\r\r\n");
    EXPECT_EQ(shell.run("", "-> ", false), "\r\r\n-> ");
    EXPECT_EQ(shell.run("cmdecho on", "cmdecho on\r\r\n", false), "cmdecho on\r\r\n");
    EXPECT_EQ(shell.run("test loud", "argv[1]=loud\r\r\n"),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=loud\r\r\n");
    EXPECT_EQ(shell.run("", "-> ", false), "\r\n-> ") << "the echo of Enter, then the prompt";
    shell.end();
}

TEST(CommandsSimple, HistoryListsTheLinesTypedSoFar) {
    ShellSession shell;
    // The history line itself is recorded before it runs, so the list is never empty.
    EXPECT_EQ(shell.run("history", "history success\r\r\n"),
              "command history:\r\r\n 1  history\r\r\n"
              "1 commands (only the last 64 shown)\r\r\nhistory success\r\r\n");
    shell.run("# a comment", "");
    shell.forward("echo two", "C: echo two");
    // Lines that carry a password are never kept.
    shell.device().type("setpassword s3cret\r");
    EXPECT_EQ(shell.run("hist", "hist success\r\r\n"),
              "command history:\r\r\n 1  history\r\r\n 2  # a comment\r\r\n"
              " 3  echo two\r\r\n 4  hist\r\r\n"
              "4 commands (only the last 64 shown)\r\r\nhist success\r\r\n");
    shell.end();
}

TEST(CommandsSimple, RepeatRefusesBadReferences) {
    ShellSession shell;
    EXPECT_EQ(shell.run("repeat 1", kBadReference), kBadReference)
        << "only the repeat line itself is in the history";
    EXPECT_EQ(shell.run("repeat 0", kOutOfRange), kOutOfRange);
    EXPECT_EQ(shell.run("repeat 65", kOutOfRange), kOutOfRange);
    EXPECT_EQ(shell.run("repeat x", kOutOfRange), kOutOfRange);
    EXPECT_EQ(shell.run("! -3", kOutOfRange), kOutOfRange);
    EXPECT_EQ(shell.run("repeat", kIllegal), kIllegal);
    EXPECT_EQ(shell.run("repeat 1 2", kIllegal), kIllegal);
    EXPECT_EQ(shell.run("!", kIllegal), kIllegal);
    EXPECT_EQ(shell.run("repeat 9", kBadReference), kBadReference) << "entry 9 is this line";
    EXPECT_TRUE(shell.newZuzLines().empty()) << "nothing was sent";
    shell.end();
}

TEST(CommandsSimple, RepeatSendsTheOldLineUnderTheCurrentPrefix) {
    ShellSession shell;
    shell.forward("echo one", "C: echo one");
    shell.forward("echo two", "C: echo two");
    shell.forward("repeat 1", "C: echo one");
    EXPECT_EQ(shell.zuzCount("C: echo one"), 2);
    shell.forward("!2", "C: echo two");
    // A repeated line goes to zuz even when it was a local command.
    shell.run("test x", "argv[1]=x\r\r\n");
    shell.forward("repeat 5", "C: test x");
    // Only the low 32 bits of the number count: 4294967297 names entry 1.
    shell.forward("repeat 4294967297", "C: echo one");
    EXPECT_EQ(shell.zuzCount("C: echo one"), 3);
    shell.run("apicmds", "mode...\r\r\n");
    shell.forward("! 2", "E: echo two");
    EXPECT_EQ(shell.run("history", "history success\r\r\n"),
              "command history:\r\r\n 1  echo one\r\r\n 2  echo two\r\r\n 3  echo one\r\r\n"
              " 4  echo two\r\r\n 5  test x\r\r\n 6  test x\r\r\n 7  echo one\r\r\n"
              " 8  apicmds\r\r\n 9  echo two\r\r\n10  history\r\r\n"
              "10 commands (only the last 64 shown)\r\r\nhistory success\r\r\n");
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
    std::string list = shell.run("history", "history success\r\r\n");
    // Line 70 went into slot 6; the oldest kept line, 7, is in slot 7.
    std::string expected = "command history:\r\r\n";
    for (int line = 7; line <= 69; ++line) {
        char row[32];
        snprintf(row, sizeof row, "%2d  #%d\r\r\n", (line - 1) % 64 + 1, line);
        expected += row;
    }
    expected += " 6  history\r\r\n64 commands (only the last 64 shown)\r\r\nhistory success\r\r\n";
    EXPECT_EQ(list.substr(list.find("command history:")), expected);
    // Line 71 lands in slot 7: naming it repeats the repeat line itself.
    shell.forward("repeat 7", "C: repeat 7");
    shell.forward("repeat 64", "C: #64");
    shell.end();
}

TEST(CommandsSimple, ApiSendsItsWordsAsACustomerApiCommand) {
    ShellSession shell;
    EXPECT_EQ(shell.runThenSync("api"), "api\r\n" + std::string(kSyncOutput));
    shell.forward("api a  b", "E: a b");
    EXPECT_EQ(shell.newZuzLines(), std::vector<std::string>{"E: a b"})
        << "\"api\" alone sent nothing";
    EXPECT_TRUE(shell.device().waitFor("error: command not found")) << "zuz knows no \"a\"";
    shell.end();
}

TEST(CommandsSimple, ExitWithAnArgumentEndsTheSessionAtOnce) {
    ShellSession shell;
    shell.device().type("exit now\r");
    EXPECT_EQ(shell.device().waitExit(), 0);
    // Only the clean-up ran: the client setting was not cleared (that waits for a reply,
    // so it would be recorded). The "U" may be lost as the device ends with the shell.
    for (const auto &line : shell.newZuzLines())
        EXPECT_EQ(line, "U");
}

TEST(CommandsModes, CommentsAndInvalidLinesAreNotForwarded) {
    ShellSession shell;
    shell.device().type("# remark\r   #indented remark\r");
    EXPECT_EQ(shell.run("test \"ends in \\", "Invalid command\r\r\n", false),
              "# remark\r\n   #indented remark\r\ntest \"ends in \\\r\nInvalid command\r\r\n");
    // An escaped quote does not end the argument.
    EXPECT_EQ(shell.run("test \"x\\\"", "argv[1]=x\"\r\r\n"),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=x\"\r\r\n");
    shell.forward("Exit", "C: Exit");
    shell.forward("TEST a", "C: TEST a");
    EXPECT_EQ(shell.newZuzLines(), (std::vector<std::string>{"C: Exit", "C: TEST a"}))
        << "capitalised words are not commands of the shell";
    shell.end();
}

TEST(CommandsModes, CustomerApiModeKeepsOnlyTheCommonCommandsLocal) {
    ShellSession shell;
    EXPECT_EQ(shell.run("apicmds now", "\n"),
              "Entering sticky customer api commands *ONLY* mode...\r\r\n");
    EXPECT_EQ(shell.run("history", "history success\r\r\n").substr(0, 18), "command history:\r\r");
    shell.forward("log", "E: log");
    shell.forward("test a", "E: test a");
    shell.forward("apicmds", "E: apicmds");
    shell.forward("devcmds", "E: devcmds");
    // Wait for the application's answer: it may otherwise land after the next command.
    shell.run("session name R2", "session name: R2\r\n");
    EXPECT_EQ(shell.newZuzLines().back(), "N: name R2");
    EXPECT_EQ(shell.run("shell", "\n"), "error: command not found\r\r\n");
    EXPECT_EQ(shell.run("printenv", "bootdelay=3\r\n").substr(0, 16), "baudrate=115200\r");
    shell.forward("sys version", "E: sys version");
    shell.forward("show", "E: show");
    shell.end();
}

TEST(CommandsModes, InternalModeForwardsWithItsPrefix) {
    ShellSession shell;
    EXPECT_EQ(shell.run("devcmds", "\n"), "Entering sticky internal commands *ONLY* mode...\r\r\n");
    shell.forward("status", "D: status");
    shell.forward("api x", "D: api x");
    shell.forward("apicmds", "D: apicmds");
    shell.forward("show", "D: show");
    shell.forward("crashreport enable", "D: crashreport enable");
    EXPECT_EQ(shell.run("cmdecho on", "\n"), "cmdecho on\r\r\n");
    shell.end();
}

TEST(CommandsBadInput, WordsBeyondTheFortiethAreDropped) {
    ShellSession shell;
    std::string words, first39;
    for (int i = 1; i <= 45; ++i) {
        words += " w" + std::to_string(i);
        if (i == 39) first39 = words.substr(1);
    }
    std::string shown = shell.run("test" + words, "argv[39]=w39\r\r\n");
    EXPECT_EQ(shown.substr(0, 10), "argc=40\r\r\n");
    shell.forward("sys" + words, "D: " + first39);
    shell.forward("api" + words, "E: " + first39);
    EXPECT_EQ(shell.run("test " + std::string(505, 'x'), "x\r\r\n"),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=" + std::string(505, 'x') + "\r\r\n")
        << "a line of 510 characters";
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
    const std::string bad = "error: command has illegal parameters\r\r\n";
    EXPECT_EQ(shell.run("cmdecho %n", bad), bad);
    EXPECT_EQ(shell.run("repeat %n", "1..64\r\r\n"),
              "error: value out of range. valid range 1..64\r\r\n");
    shell.runThenSync("show add %s%n");
    EXPECT_EQ(shell.run("show", "\"%s%n\"\r\r\n"),
              "Active show filters:\r\r\n--------------------\r\r\n\"%s%n\"\r\r\n");
    EXPECT_NE(shell.run("history", "history success\r\r\n").find(" 2  echo %s %n\r\r\n"),
              std::string::npos);
    shell.log("<13>probe: 50%s%n%d done");
    EXPECT_TRUE(shell.device().waitFor("notice probe: 50%s%n%d done\r\n"));
    shell.end();
}
