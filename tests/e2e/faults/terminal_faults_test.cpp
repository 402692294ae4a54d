// The terminal's side: a hang-up wherever the shell waits, SIGTERM. A session ended by a
// signal still withdraws itself once (without depending on replies), restores the
// terminal, logs its end in mirrored sessions and then ends by that signal. (End of input
// inside an escape sequence: tests/cle; a hang-up of a shell that does not lead the
// terminal: tests/e2e/spine.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

// The shell run from sh, which then writes the shell's status to /tmp/status (the
// terminal may be gone) and keeps the device up. leader: the shell leads the terminal's
// session, as under a telnet daemon, so that a hang-up reaches it as SIGHUP.
DeviceOptions shellReportingStatus(const std::string &args, bool leader = false) {
    DeviceOptions options = shellWith({});
    options.command = {"sh", "-c",
                       std::string(leader ? "setsid --ctty " : "") + kDeviceVela + " " + args +
                           "; echo $? > /tmp/status; exec sleep 30"};
    return options;
}

// The shell's status from /tmp/status; "" when it did not end in time.
std::string shellStatus(DeviceSession &device) {
    std::optional<std::string> status;
    // sh creates the file before it writes the status into it.
    eventually([&] { return (status = deviceFile(device, "/tmp/status")) && !status->empty(); });
    return status.value_or("");
}

}  // namespace

// In the editor with half a line typed, and at the password prompt with the echo off.
TEST(FaultsTerminal, TermSignalWithdrawsTheSessionRestoresTheTerminalAndEndsBySignal) {
    for (const bool atPassword : {false, true}) {
        SCOPED_TRACE(atPassword ? "at the password prompt" : "in the editor");
        DeviceOptions options = shellReportingStatus("-t api --nobanner");
        if (atPassword) options.settings = {{"sw", "secret"}};
        DeviceSession device(options);
        ASSERT_TRUE(atPassword ? device.waitFor(shown("Password:")) : waitForLoop(device));
        const std::string tty = ttyOf(device);
        if (!atPassword) {
            device.type("half a li");
            ASSERT_TRUE(device.waitFor("half a li"));
        }
        const tcflag_t off = atPassword ? ECHO : ICANON | ECHO;
        ASSERT_TRUE(
            eventually([&] { return ptyLocalModes(tty) != 0 && !(ptyLocalModes(tty) & off); }));
        ASSERT_EQ(device.runInDevice({"pkill", "-TERM", "-x", "vela"}).status, 0);
        EXPECT_EQ(shellStatus(device), "143\n");
        EXPECT_EQ(ptyLocalModes(tty) & (ICANON | ECHO | ISIG), tcflag_t(ICANON | ECHO | ISIG));
        const char *const clear24 = "E: execwithoutecho systemsetting telnet_client_24 ";
        EXPECT_TRUE(device.waitForZuzLine("U"));
        EXPECT_EQ(zuzFrom(device, clear24), (std::vector<std::string>{clear24, "U"}));
        EXPECT_EQ(zuzCount(device, "E: _control login", true), 0);
        EXPECT_TRUE(waitForRecord(device, ":End of session"));
    }
}

// At the prompt the hang-up also ends the editor's input: the loop's own closing and the
// signal's must not both send. Waiting for a reply or a login's result that never
// comes, only the signal ends the wait. A secure profile session logs out first.
TEST(FaultsTerminal, HangUpWithdrawsTheSessionOnceWhereverTheShellWaits) {
    struct Case {
        const char *where;
        Settings settings;
        std::string rules;
        std::vector<std::pair<std::string, std::string>> dialogue;
        std::string last;  // zuz's last line before the hang-up; "": the login request
    };
    const Case cases[] = {
        {"at the prompt", {}, "", {}, kLoopReady},
        {"waiting for a reply", {}, "exact \"C: stuck\" => noreply\n", {}, "C: stuck"},
        {"logged in to the secure profile",
         secureProfile("secret"),
         "",
         {{"Login:", "admin\r"}, {"Password:", "secret\r"}},
         kLoopReady},
        {"waiting for the login's result",
         {{"sw", "secret"}},
         "prefix \"E: _control login\" => noresult\n",
         {{shown("Password:"), "secret\r"}},
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.where);
        DeviceOptions options = shellReportingStatus("-t telnet", true);
        options.settings = c.settings;
        options.zuzRules = c.rules;
        DeviceSession device(options);
        if (!converse(device, c.dialogue) || (!c.last.empty() && !waitForLoop(device))) {
            if (device.output().find("setsid") != std::string::npos)
                GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
            FAIL() << device.output();
        }
        const std::string tty = ttyOf(device);
        const std::string last = !c.last.empty() ? c.last
                                                 : "E: _control login \"" + hexEncoded("admin") +
                                                       "\" \"" + hexEncoded("secret") + "\" " + tty;
        if (c.last == "C: stuck") device.type("stuck\r");
        ASSERT_TRUE(device.waitForZuzLine(last));
        // Nothing is printed while the login waits, least of all a give-up.
        EXPECT_FALSE(device.waitFor(c.last.empty() ? "\n" : "closed by peer", 300ms));
        std::vector<std::string> expected = {last, kClear23, "U"};
        if (c.settings == secureProfile("secret"))
            expected.insert(expected.begin() + 1, "E: _control logout " + tty);
        const auto start = std::chrono::steady_clock::now();
        device.closeTerminal();
        const std::string status = shellStatus(device);
        EXPECT_LT(msSince(start), 5000);
        // 0 when the end of input won the race at the prompt; a waiting shell reads none.
        EXPECT_TRUE(status == "129\n" || (last == kLoopReady && status == "0\n")) << status;
        EXPECT_TRUE(device.waitForZuzLine("U"));
        EXPECT_EQ(zuzFrom(device, last), expected);
    }
}
