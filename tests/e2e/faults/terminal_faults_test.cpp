// The terminal's side: input that ends inside an escape sequence, a hang-up, SIGTERM.
// A session ended by a signal still withdraws itself (without depending on replies),
// restores the terminal, logs its end in mirrored sessions and then ends by that
// signal; each test names what it expects.
#include <gtest/gtest.h>
#include <signal.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const char *const kClear24 = "E: execwithoutecho systemsetting telnet_client_24 ";

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

// The shell's status from /tmp/status; nullopt when it did not end within timeout.
std::optional<std::string> shellStatus(
    DeviceSession &device, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::optional<std::string> status;
    // sh creates the file before it writes the status into it.
    eventually(
        [&] {
            status = deviceFile(device, "/tmp/status");
            return status && !status->empty();
        },
        timeout);
    return status && !status->empty() ? status : std::nullopt;
}

void signalShell(DeviceSession &device, const char *signal) {
    ASSERT_EQ(device.runInDevice({"pkill", signal, "-x", "vela"}).status, 0);
}

bool editing(const std::string &tty) {
    const tcflag_t modes = ptyLocalModes(tty);
    return modes != 0 && !(modes & ICANON) && !(modes & ECHO);
}

bool restored(const std::string &tty) {
    const tcflag_t modes = ptyLocalModes(tty);
    return (modes & ICANON) && (modes & ECHO) && (modes & ISIG);
}

}  // namespace

TEST(FaultsTerminal, EndOfInputInsideAnEscapeSequenceEndsTheSessionCleanly) {
    DeviceSession device(shellReportingStatus("-t telnet"));
    ASSERT_TRUE(waitForLoop(device));
    device.type("vers\x1b[");
    ASSERT_TRUE(device.waitFor("vers"));
    device.closeTerminal();
    EXPECT_EQ(shellStatus(device), "0\n");
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzFrom(device, kLoopReady), (std::vector<std::string>{kLoopReady, kClear23, "U"}))
        << "the half-typed line is not sent";
}

TEST(FaultsTerminal, TermSignalWithdrawsTheSessionRestoresTheTerminalAndEndsBySignal) {
    DeviceSession device(shellReportingStatus("-t api --nobanner"));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device);
    device.type("half a li");
    ASSERT_TRUE(device.waitFor("half a li"));
    ASSERT_TRUE(editing(tty));
    signalShell(device, "-TERM");
    EXPECT_EQ(shellStatus(device), "143\n");
    EXPECT_TRUE(restored(tty));
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzFrom(device, kClear24), (std::vector<std::string>{kClear24, "U"}));
    EXPECT_TRUE(eventually([&] {
        auto records = velaRecords(device);
        return !records.empty() && records.back().find(":End of session") != std::string::npos;
    }));
}

TEST(FaultsTerminal, TermSignalAtThePasswordPromptTurnsTheEchoBackOn) {
    DeviceOptions options = shellReportingStatus("-t telnet");
    options.settings = {{"sw", "secret"}};
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor(shown("Password:")));
    const std::string tty = ttyOf(device);
    ASSERT_TRUE(eventually([&] { return !(ptyLocalModes(tty) & ECHO); }));
    signalShell(device, "-TERM");
    EXPECT_EQ(shellStatus(device), "143\n");
    EXPECT_TRUE(ptyLocalModes(tty) & ECHO);
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzCount(device, "E: _control login", true), 0);
}

TEST(FaultsTerminal, HangUpAtThePromptWithdrawsTheSessionOnceAndEndsBySignal) {
    // The hang-up also ends the editor's input: the loop's own closing and the signal's
    // must not both send.
    DeviceSession device(shellReportingStatus("-t telnet", true));
    if (!waitForLoop(device)) {
        if (device.output().find("setsid") != std::string::npos)
            GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
        FAIL() << device.output();
    }
    device.closeTerminal();
    const auto status = shellStatus(device);
    EXPECT_TRUE(status == "129\n" || status == "0\n") << status.value_or("none");
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzFrom(device, kLoopReady), (std::vector<std::string>{kLoopReady, kClear23, "U"}));
}

TEST(FaultsTerminal, SecureProfileSessionLogsOutWhenItIsHungUp) {
    DeviceOptions options = shellReportingStatus("-t telnet", true);
    options.settings = {{"enablesecureprofile", "DoD DSN"}, {"sw", "secret"}};
    DeviceSession device(options);
    if (!device.waitFor(shown("Login:"))) {
        if (device.output().find("setsid") != std::string::npos)
            GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
        FAIL() << device.output();
    }
    device.type("admin\r");
    ASSERT_TRUE(device.waitFor(shown("Password:")));
    device.type("secret\r");
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device);
    device.closeTerminal();
    const auto status = shellStatus(device);
    EXPECT_TRUE(status == "129\n" || status == "0\n") << status.value_or("none");
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_EQ(zuzFrom(device, kLoopReady),
              (std::vector<std::string>{kLoopReady, "E: _control logout " + tty, kClear23, "U"}));
}
