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

// The shell's status from /tmp/status; nullopt when it did not end in time.
std::optional<std::string> shellStatus(DeviceSession &device) {
    std::optional<std::string> status;
    // sh creates the file before it writes the status into it.
    eventually([&] { return (status = deviceFile(device, "/tmp/status")) && !status->empty(); });
    return status && !status->empty() ? status : std::nullopt;
}

void terminate(DeviceSession &device) {
    ASSERT_EQ(device.runInDevice({"pkill", "-TERM", "-x", "vela"}).status, 0);
}

}  // namespace

TEST(FaultsTerminal, TermSignalWithdrawsTheSessionRestoresTheTerminalAndEndsBySignal) {
    DeviceSession device(shellReportingStatus("-t api --nobanner"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device);
    device.type("half a li");
    ASSERT_TRUE(device.waitFor("half a li"));
    const tcflag_t editing = ptyLocalModes(tty);
    ASSERT_TRUE(editing != 0 && (editing & (ICANON | ECHO)) == 0);
    terminate(device);
    EXPECT_EQ(shellStatus(device), "143\n");
    EXPECT_EQ(ptyLocalModes(tty) & (ICANON | ECHO | ISIG), tcflag_t(ICANON | ECHO | ISIG));
    const char *const clear24 = "E: execwithoutecho systemsetting telnet_client_24 ";
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzFrom(device, clear24), (std::vector<std::string>{clear24, "U"}));
    EXPECT_TRUE(waitForRecord(device, ":End of session"));
}

TEST(FaultsTerminal, TermSignalAtThePasswordPromptTurnsTheEchoBackOn) {
    DeviceOptions options = shellReportingStatus("-t telnet");
    options.settings = {{"sw", "secret"}};
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor(shown("Password:")));
    const std::string tty = ttyOf(device);
    ASSERT_TRUE(eventually([&] { return !(ptyLocalModes(tty) & ECHO); }));
    terminate(device);
    EXPECT_EQ(shellStatus(device), "143\n");
    EXPECT_TRUE(ptyLocalModes(tty) & ECHO);
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzCount(device, "E: _control login", true), 0);
}

// At the prompt the hang-up also ends the editor's input: the loop's own closing and the
// signal's must not both send. Waiting for a reply that never comes, only the signal
// ends the wait. A secure profile session logs out first.
TEST(FaultsTerminal, HangUpWithdrawsTheSessionOnceWhereverTheShellWaits) {
    struct Case {
        const char *where;
        Settings settings;
        std::vector<std::pair<std::string, std::string>> dialogue;
        const char *typed;  // the line the shell is left waiting on, or ""
    };
    const Case cases[] = {
        {"at the prompt", {}, {}, ""},
        {"waiting for a reply", {}, {}, "stuck"},
        {"logged in to the secure profile",
         secureProfile("secret"),
         {{"Login:", "admin\r"}, {"Password:", "secret\r"}},
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.where);
        DeviceOptions options = shellReportingStatus("-t telnet", true);
        options.settings = c.settings;
        options.zuzRules = "exact \"C: stuck\" => noreply\n";
        DeviceSession device(options);
        if (!converse(device, c.dialogue) || !waitForLoop(device)) {
            if (device.output().find("setsid") != std::string::npos)
                GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
            FAIL() << device.output();
        }
        const std::string tty = ttyOf(device);
        std::vector<std::string> expected = {kLoopReady, kClear23, "U"};
        if (*c.typed != '\0') {
            device.type(std::string(c.typed) + "\r");
            ASSERT_TRUE(device.waitForZuzLine("C: stuck"));
            EXPECT_FALSE(device.waitFor("closed by peer", std::chrono::milliseconds(300)));
            expected.insert(expected.begin() + 1, "C: stuck");
        }
        if (!c.settings.empty()) expected.insert(expected.begin() + 1, "E: _control logout " + tty);
        const auto start = std::chrono::steady_clock::now();
        device.closeTerminal();
        const auto status = shellStatus(device);
        EXPECT_LT(msSince(start), 5000);
        // 0 when the end of input won the race; a shell waiting for a reply reads none.
        EXPECT_TRUE(status == "129\n" || (*c.typed == '\0' && status == "0\n"))
            << status.value_or("none");
        EXPECT_TRUE(device.waitForZuzLine("U"));
        EXPECT_EQ(zuzFrom(device, kLoopReady), expected);
    }
}
