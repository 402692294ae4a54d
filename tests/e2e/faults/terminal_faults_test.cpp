// The terminal's side: a hang-up wherever the shell waits, SIGTERM. A session ended by a
// signal still withdraws itself once (without depending on replies), restores the
// terminal, logs its end in mirrored sessions and then ends by that signal. (End of input
// inside an escape sequence: tests/cle.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

using Dialogue = std::vector<std::pair<std::string, std::string>>;

// In the editor with half a line typed, and at the password prompt with the echo off.
// Started with "--wait", the shell first waits for SIGUSR1, before the application
// hears of it.
TEST(FaultsTerminal, TermSignalWithdrawsTheSessionRestoresTheTerminalAndEndsBySignal) {
    for (const bool atPassword : {false, true}) {
        SCOPED_TRACE(atPassword ? "at the password prompt" : "in the editor");
        DeviceOptions options = keptUp(shellWith({"-t", "api", "--nobanner", "--wait"}));
        if (atPassword) options.settings = {{"sw", "secret"}};
        DeviceSession device(options);
        ASSERT_TRUE(device.waitFor(shown("DEBUG: waiting for SIGUSR1 to start...")));
        EXPECT_TRUE(device.zuzReceived().empty());
        ASSERT_EQ(device.runInDevice({"pkill", "-USR1", "-x", "vela"}).status, 0);
        // A signal just before the wait's sleep is noticed when the sleep ends, 5 s later.
        EXPECT_TRUE(
            device.waitFor(shown("DEBUG: SIGUSR1 received! set continue flag to true"), 8s));
        ASSERT_TRUE(atPassword ? device.waitFor(shown("Password:")) : waitForLoop(device));
        const std::string tty = ttyOf(device);
        if (!atPassword) device.type("half a li");
        const tcflag_t off = atPassword ? ECHO : ICANON | ECHO;
        ASSERT_TRUE(atPassword || device.waitFor("half a li"));
        ASSERT_TRUE(eventually([&] { return ptyLocalModes(tty) && !(ptyLocalModes(tty) & off); }));
        ASSERT_EQ(device.runInDevice({"pkill", "-TERM", "-x", "vela"}).status, 0);
        EXPECT_EQ(endStatus(device), 143);
        EXPECT_EQ(ptyLocalModes(tty) & (ICANON | ECHO | ISIG), tcflag_t(ICANON | ECHO | ISIG));
        EXPECT_EQ(zuzFrom(device, kClear24), (Lines{kClear24, "U"}));
        EXPECT_EQ(zuzCount(device, "E: _control login", true), 0);
        EXPECT_TRUE(waitForRecord(device, ":End of session"));
    }
}

// At the prompt the hang-up also ends the editor's input: the loop's own closing and the
// signal's must not both send; a shell that does not lead the terminal's session only
// reads the end of its input. Waiting for a reply or a login's result that never comes,
// only the signal ends the wait. A secure profile session logs out first.
TEST(FaultsTerminal, HangUpWithdrawsTheSessionOnceWhereverTheShellWaits) {
    const Settings secure = secureProfile("secret"), password = {{"sw", "secret"}};
    const std::string stuck = "exact \"C: stuck\" => noreply\n",
                      silent = "prefix \"E: _control login\" => noresult\n";
    const Dialogue logIn = {{"Login:", "admin\r"}, {"Password:", "secret\r"}},
                   waitForResult = {{shown("Password:"), "secret\r"}};
    // As under a telnet daemon, the shell leads the terminal's session, so that a
    // hang-up reaches it as SIGHUP; sh then writes its status (the terminal is gone).
    const std::string leads = "setsid --ctty ";
    // Where: how the shell starts, settings, zuz's rules, the dialogue, zuz's last line
    // ("": the login request).
    const std::tuple<const char *, std::string, Settings, std::string, Dialogue, std::string>
        cases[] = {
            {"at the prompt", leads, {}, "", {}, kLoopReady},
            {"at the prompt of another session's shell", "", {}, "", {}, kLoopReady},
            {"waiting for a reply", leads, {}, stuck, {}, "C: stuck"},
            {"logged in to the secure profile", leads, secure, "", logIn, kLoopReady},
            {"waiting for the login's result", leads, password, silent, waitForResult, ""},
        };
    for (const auto &[where, launch, settings, rules, dialogue, waitsAfter] : cases) {
        SCOPED_TRACE(where);
        DeviceOptions options = shellWith({"-t", "telnet"}, settings);
        options.command = {
            "sh", "-c", launch + kDeviceVela + " -t telnet; echo $? > /tmp/status; exec sleep 30"};
        options.zuzRules = rules;
        DeviceSession device(options);
        if (!converse(device, dialogue) || (!waitsAfter.empty() && !waitForLoop(device))) {
            if (device.output().find("setsid") != std::string::npos)
                GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
            FAIL() << device.output();
        }
        const std::string tty = ttyOf(device);
        const std::string last =
            !waitsAfter.empty() ? waitsAfter : loginLine("admin", "secret", tty);
        if (rules == stuck) device.type("stuck\r");
        ASSERT_TRUE(device.waitForZuzLine(last));
        // Nothing is printed while the login waits, least of all a give-up.
        EXPECT_FALSE(device.waitFor(waitsAfter.empty() ? "\n" : "closed by peer", 300ms));
        Lines expected = {last, kClear23, "U"};
        if (settings == secure) expected.insert(expected.begin() + 1, "E: _control logout " + tty);
        const auto start = std::chrono::steady_clock::now();
        device.hangUp();
        std::optional<std::string> status;  // sh creates the file before it writes into it
        eventually(
            [&] { return (status = deviceFile(device, "/tmp/status")) && !status->empty(); });
        EXPECT_LT(msSince(start), 5000);
        // 0 when the end of input won the race at the prompt; a waiting shell reads none.
        EXPECT_TRUE(status == "129\n" || (last == kLoopReady && status == "0\n"))
            << status.value_or("none");
        EXPECT_TRUE(device.waitForZuzLine("U"));
        EXPECT_EQ(zuzFrom(device, last), expected);
    }
}
