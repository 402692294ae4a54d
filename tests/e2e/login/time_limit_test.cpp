// The secure profile's idle limit ("idletimeoutapi", in minutes) and its record, on the
// short-minute shell (a minute lasts CLE_FASTCLOCK_MINUTE_MS ms).
#include <gtest/gtest.h>

#include "login_support.h"

using namespace vela::test;
using namespace vela::test::login;

namespace {

constexpr std::chrono::milliseconds kMinute{CLE_FASTCLOCK_MINUTE_MS};

// A logged-in secure-profile telnet session with the given idle limit.
void logIn(DeviceSession &device) {
    ASSERT_TRUE(device.waitFor(shown("Login:")));
    device.type("admin\r");
    ASSERT_TRUE(device.waitFor(shown("Password:")));
    device.type("secret\r");
    ASSERT_TRUE(waitForEditor(device));
}

DeviceOptions idleSession(const std::string &idle) {
    return keepZuzUntilUnregistered(
        shellOn("telnet", dodSettings("secret", idle), VELA_FASTCLOCK_BINARY));
}

TEST(SessionTimeLimits, IdleSessionEndsWithASecurityRecord) {
    DeviceSession device(idleSession("1"));
    logIn(device);
    if (HasFatalFailure()) return;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.waitExit(kMinute * 3), 0);
    EXPECT_GE(msSince(start), kMinute.count() * 9 / 10);
    EXPECT_NE(device.output().find(shown("Session timed out")), std::string::npos);

    std::string tty = sessionTty(device);
    EXPECT_EQ(
        receivedFrom(device, "E: _control logout " + tty),
        (std::vector<std::string>{"E: _control logout " + tty,
                                  "E: execwithoutecho systemsetting telnet_client_23 ", "U"}));
    std::string expected =
        "SECURITY: telnet" + tty.substr(tty.rfind('/') + 1) + ":Session timed out ID: admin";
    int found = 0;
    for (const auto &record : device.syslogRecords()) {
        if (record.message != expected) continue;
        ++found;
        EXPECT_EQ(record.priority, 69);
        EXPECT_EQ(record.identity, "vela");
    }
    EXPECT_EQ(found, 1) << expected;
    auto modes = ptyModes(tty);
    ASSERT_TRUE(modes.has_value());
    EXPECT_TRUE((modes->c_lflag & ICANON) && (modes->c_lflag & ECHO)) << "terminal restored";
}

TEST(SessionTimeLimits, WithoutIdleLimitOnlyTheImportTimesOut) {
    DeviceSession device(idleSession("Off"));
    logIn(device);
    if (HasFatalFailure()) return;
    device.type("importdirectory\rfirst\r");
    ASSERT_TRUE(device.waitFor("import started\r\n"));
    EXPECT_TRUE(device.waitFor(shown("importdirectory timed out"), kMinute * 3));
    EXPECT_EQ(deviceFile(device, "/tmp/webdata/directory"), "first\n");

    // No idle limit afterwards either.
    EXPECT_FALSE(device.waitFor("timed out", kMinute * 3 / 2));
    EXPECT_TRUE(device.running());
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
    EXPECT_EQ(device.output().find("Session timed out"), std::string::npos);
}

}  // namespace
