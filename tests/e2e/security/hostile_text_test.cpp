// "%n", "%s" and control bytes in the fields that the other tests do not reach: the
// user name typed at the secure profile's "Login:" and the shell's own messages in
// mirrored sessions. Shown and logged literally, never as formats.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kHostile = "%n%s%x%%\x01\x07\x1b[7m";

}  // namespace

TEST(SecurityText, HostileSecureProfileUserIsSentEncodedShownAndLoggedLiterally) {
    // The idle limit of a minute (a second in this build) ends the session with a
    // security record that names the user.
    // zuz takes the hostile name as its administrator, so that the login succeeds.
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"},
                                             {{"enablesecureprofile", "DoD DSN"},
                                              {"adminuserid", kHostile},
                                              {"sw", "pw\" x"},
                                              {"idletimeoutapi", "1"}},
                                             VELA_FASTCLOCK_BINARY));
    DeviceSession device(options);
    ASSERT_TRUE(converse(device, {{"Login:", kHostile + "\r"}, {"Password:", "pw\" x\r"}}));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device);
    EXPECT_EQ(zuzCount(device, "E: _control login \"" + hexEncoded(kHostile) + "\" \"" +
                                   hexEncoded("pw\" x") + "\" " + tty),
              1);
    device.type("whoami\r");
    EXPECT_TRUE(device.waitFor("\n" + kHostile + "\r\n")) << "zuz names the user";
    EXPECT_TRUE(device.waitFor(shown("Session timed out"), std::chrono::seconds(5)));
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_TRUE(waitForRecord(
        device, "SECURITY: " + sessionName(device) + ":Session timed out ID: " + kHostile));
}

TEST(SecurityText, MirroredHistoryKeepsItsFormats) {
    // The history lists typed lines through the shell's own printer, which mirrors them.
    // (Option values: tests/e2e/spine.)
    DeviceSession device(keptUp(shellWith({"-t", "api", "--nobanner"})));
    ASSERT_TRUE(waitForLoop(device));
    const std::string name = sessionName(device);
    device.type("echo %n%s%x%d\r");
    EXPECT_TRUE(device.waitFor("\n%n%s%x%d\r\n"));
    device.type("history\r");
    EXPECT_TRUE(device.waitFor(shown(" 1  echo %n%s%x%d")));
    EXPECT_TRUE(waitForRecord(device, "API:" + name + ":2:OUT: 1  echo %n%s%x%d"));
    EXPECT_TRUE(waitForRecord(device, "API:" + name + ":1:IN:echo %n%s%x%d"));
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}
