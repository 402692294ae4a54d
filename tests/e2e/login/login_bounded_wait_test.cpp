// The waits for a login or logout result: over as soon as no result can come any more,
// endless while a connected application stays silent, bounded for the closing logout.
#include <gtest/gtest.h>
#include <signal.h>

#include "login_support.h"

using namespace vela::test;
using namespace vela::test::login;

namespace {

const std::string kWelcome = shown("Welcome to Tessaline");
const std::string kPassword = shown("Password:");
const std::string kLoginPrefix = "E: _control login";

DeviceOptions passwordSession(const std::string &rules) {
    DeviceOptions options = shellOn("telnet", {{"sw", "secret"}});
    options.zuzRules = rules;
    return options;
}

// Types the password and expects the login to fail at once, without a retry.
void expectPromptFailure(DeviceSession &device) {
    ASSERT_TRUE(device.waitFor(kPassword)) << escaped(device.output());
    auto start = std::chrono::steady_clock::now();
    device.type("secret\r");
    EXPECT_EQ(device.waitExit(), 255);
    EXPECT_LT(msSince(start), 2000) << "no retry pause, no hang";
    EXPECT_FALSE(device.waitFor(kPassword, 0ms)) << "not asked again";
}

TEST(LoginBoundedWait, LinkEndingWhileTheLoginWaitsEndsTheSession) {
    DeviceSession device(
        passwordSession("prefix \"" + kLoginPrefix + "\" => reply 0; delay 100; drop\n"));
    expectPromptFailure(device);
}

TEST(LoginBoundedWait, RequestThatCannotBeSentFailsTheLogin) {
    // The link ends after the registration, before the password is typed.
    DeviceSession device(passwordSession("prefix \"R: \" => run; delay 100; drop\n"));
    ASSERT_TRUE(device.waitFor(kWelcome));
    // Until the shell's end of the link (to port 4121) is no longer established.
    EXPECT_TRUE(eventually([&] {
        return device.runInDevice({"cat", "/proc/net/tcp"}).out.find(":10D9 01") ==
               std::string::npos;
    }));
    expectPromptFailure(device);
}

// The registration is answered "R: 0" right before the link ends: the reply still
// answers it, and the login then fails because nothing can answer any more.
TEST(LoginBoundedWait, ReplyRightBeforeTheLinkEndsIsNotLost) {
    DeviceSession device(passwordSession("prefix \"R: \" => run; drop\n"));
    expectPromptFailure(device);
}

TEST(LoginBoundedWait, EndedListenerReaderFailsTheLogin) {
    // A datagram without a line end that fills the reader's buffer ends the reader.
    DeviceSession device(passwordSession("prefix \"" + kLoginPrefix +
                                         "\" => noresult; datagram \"" + std::string(40000, 'x') +
                                         "\"; run\n"));
    expectPromptFailure(device);
}

TEST(LoginBoundedWait, SilentApplicationKeepsTheLoginWaitingUntilHangUp) {
    DeviceOptions options = passwordSession("prefix \"" + kLoginPrefix + "\" => noresult\n");
    // As under a telnet daemon, the shell leads the terminal's session, so that a hang-up
    // reaches it (stealing the terminal from the launcher needs privileges).
    options.command.insert(options.command.begin(), {"setsid", "--ctty"});
    DeviceSession device(options);
    if (!device.waitFor(kPassword)) {
        if (device.output().find("setsid") != std::string::npos)
            GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
        FAIL() << escaped(device.output());
    }
    device.type("secret\r");
    EXPECT_TRUE(eventually([&] { return receivedWithPrefix(device, kLoginPrefix) == 1; }));
    EXPECT_FALSE(device.waitFor("\n", 1s)) << "still waiting, silently";
    EXPECT_TRUE(device.running());
    device.closeTerminal();
    EXPECT_TRUE(device.waitExit(3s).has_value()) << "a hang-up ends the waiting shell";
}

TEST(LoginBoundedWait, LogoutDoesNotWaitForAKilledApplication) {
    DeviceSession device(shellOn("telnet", dodSettings("secret")));
    ASSERT_TRUE(device.waitFor(shown("Login:")));
    device.type("admin\r");
    ASSERT_TRUE(device.waitFor(kPassword));
    device.type("secret\r");
    ASSERT_TRUE(waitForEditor(device));
    ASSERT_TRUE(device.signalDaemon("zuz", SIGKILL));
    ASSERT_TRUE(eventually([&] { return !device.connectTcp(); }));
    auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
    EXPECT_LT(msSince(start), 2000);
}

TEST(LoginBoundedWait, LogoutWaitsAtMostFiveSecondsForASilentApplication) {
    DeviceOptions options = keepZuzUntilUnregistered(shellOn("telnet", dodSettings("")));
    options.zuzRules = "prefix \"E: _control logout\" => noresult\n";
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor(shown("Login:")));
    device.type("admin\r\r");  // the password is empty
    ASSERT_TRUE(waitForEditor(device));
    auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(device.waitExit(8s), 0);
    EXPECT_GE(msSince(start), 4500);
    EXPECT_LT(msSince(start), 7000);
    std::string tty = sessionTty(device);
    EXPECT_EQ(
        receivedFrom(device, "E: _control logout " + tty),
        (std::vector<std::string>{"E: _control logout " + tty,
                                  "E: execwithoutecho systemsetting telnet_client_23 ", "U"}));
}

}  // namespace
