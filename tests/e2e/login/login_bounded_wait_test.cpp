// The waits for a login or logout result: over as soon as no result can come any more,
// endless while a connected application stays silent, bounded for the closing logout.
#include <gtest/gtest.h>
#include <signal.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kPassword = shown("Password:");
const std::string kLoginRule = "prefix \"E: _control login\" => ";

DeviceOptions passwordSession(const std::string &rules) {
    DeviceOptions options = shellWith({"-t", "telnet"}, {{"sw", "secret"}});
    options.zuzRules = rules;
    return options;
}

}  // namespace

TEST(LoginBoundedWait, LoginFailsAtOnceWhenNoResultCanCome) {
    const std::pair<const char *, std::string> cases[] = {
        {"the link ends while the login waits", kLoginRule + "reply 0; delay 100; drop\n"},
        // The registration is answered "R: 0" right before the link ends: the reply
        // still answers it, and the login fails because nothing can answer any more.
        {"a reply right before the link ends", "prefix \"R: \" => run; drop\n"},
        // A datagram without a line end fills the listener reader's buffer and ends it.
        {"the listener reader ended",
         kLoginRule + "noresult; datagram \"" + std::string(40000, 'x') + "\"; run\n"},
        {"the request cannot be sent", "prefix \"R: \" => run; delay 100; drop\n"},
    };
    for (const auto &[name, rules] : cases) {
        SCOPED_TRACE(name);
        DeviceSession device(passwordSession(rules));
        ASSERT_TRUE(device.waitFor(kPassword)) << device.output();
        if (std::string(name) == "the request cannot be sent") {
            // Until the shell's end of the link (to port 4121) is no longer established.
            EXPECT_TRUE(eventually([&] {
                return device.runInDevice({"cat", "/proc/net/tcp"}).out.find(":10D9 01") ==
                       std::string::npos;
            }));
        }
        const auto start = std::chrono::steady_clock::now();
        device.type("secret\r");
        EXPECT_EQ(device.waitExit(), 255);
        EXPECT_LT(msSince(start), 2000) << "no retry pause, no hang";
        EXPECT_FALSE(device.waitFor(kPassword, 0ms)) << "not asked again";
    }
}

TEST(LoginBoundedWait, SilentApplicationKeepsTheLoginWaitingUntilHangUp) {
    DeviceOptions options = passwordSession(kLoginRule + "noresult\n");
    // As under a telnet daemon, the shell leads the terminal's session, so that a hang-up
    // reaches it (stealing the terminal from the launcher needs privileges).
    options.command.insert(options.command.begin(), {"setsid", "--ctty"});
    DeviceSession device(options);
    if (!device.waitFor(kPassword)) {
        if (device.output().find("setsid") != std::string::npos)
            GTEST_SKIP() << "cannot make the shell lead the terminal: " << device.output();
        FAIL() << device.output();
    }
    device.type("secret\r");
    EXPECT_TRUE(eventually([&] { return zuzCount(device, "E: _control login", true) == 1; }));
    EXPECT_FALSE(device.waitFor("\n", 1s)) << "still waiting, silently";
    EXPECT_TRUE(device.running());
    device.closeTerminal();
    EXPECT_TRUE(device.waitExit(3s).has_value()) << "a hang-up ends the waiting shell";
}

TEST(LoginBoundedWait, LogoutDoesNotWaitForAKilledApplication) {
    DeviceSession device(shellWith({"-t", "telnet"}, secureProfile("secret")));
    ASSERT_TRUE(converse(device, {{shown("Login:"), "admin\r"}, {kPassword, "secret\r"}}));
    ASSERT_TRUE(waitForLoop(device));
    ASSERT_TRUE(device.signalDaemon("zuz", SIGKILL));
    ASSERT_TRUE(eventually([&] { return !device.connectTcp(); }));
    const auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
    EXPECT_LT(msSince(start), 2000);
}

TEST(LoginBoundedWait, LogoutWaitsAtMostFiveSecondsForASilentApplication) {
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}, secureProfile("")));
    options.zuzRules = "prefix \"E: _control logout\" => noresult\n";
    DeviceSession device(options);
    ASSERT_TRUE(converse(device, {{shown("Login:"), "admin\r\r"}}));  // an empty password
    ASSERT_TRUE(waitForLoop(device));
    const auto start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(endStatus(device, true, 8s), 0);
    EXPECT_GE(msSince(start), 4500);
    EXPECT_LT(msSince(start), 7000);
    const std::string logout = "E: _control logout " + ttyOf(device);
    EXPECT_EQ(zuzFrom(device, logout), (std::vector<std::string>{logout, kClear23, "U"}));
}
