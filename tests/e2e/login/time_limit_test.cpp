// The secure profile's idle limit ("idletimeoutapi", in minutes) with its record, and
// the import's time limit, on the short-minute shell (CLE_FASTCLOCK_MINUTE_MS ms).
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr std::chrono::milliseconds kMinute{CLE_FASTCLOCK_MINUTE_MS};

// A logged-in secure-profile telnet session with the given idle limit.
struct LoggedIn : DeviceSession {
    explicit LoggedIn(const std::string &idle)
        : DeviceSession(keptUp(
              shellWith({"-t", "telnet"}, secureProfile("secret", idle), VELA_FASTCLOCK_BINARY))) {
        EXPECT_TRUE(
            converse(*this, {{shown("Login:"), "admin\r"}, {shown("Password:"), "secret\r"}}));
        EXPECT_TRUE(waitForLoop(*this));
    }
};

}  // namespace

TEST(SessionTimeLimits, IdleSessionEndsWithASecurityRecord) {
    LoggedIn device("1");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(endStatus(device, true, kMinute * 3), 0);
    EXPECT_GE(msSince(start), kMinute.count() * 9 / 10);
    EXPECT_NE(device.output().find(shown("Session timed out")), std::string::npos);
    const std::string tty = ttyOf(device), logout = "E: _control logout " + tty;
    EXPECT_EQ(zuzFrom(device, logout), (std::vector<std::string>{logout, kClear23, "U"}));
    const std::string expected =
        "SECURITY: " + sessionName(device) + ":Session timed out ID: admin";
    ASSERT_TRUE(waitForRecord(device, expected));
    int found = 0;
    for (const auto &record : device.syslogRecords()) {
        if (record.message != expected) continue;
        ++found;
        EXPECT_EQ(record.priority, 69);
        EXPECT_EQ(record.identity, "vela");
    }
    EXPECT_EQ(found, 1);
    EXPECT_EQ(ptyLocalModes(tty) & (ICANON | ECHO), tcflag_t(ICANON | ECHO)) << "terminal restored";
}

TEST(SessionTimeLimits, WithoutIdleLimitOnlyTheImportTimesOutKeepingThePartialFile) {
    LoggedIn device("Off");
    device.type("importdirectory\rfirst\r");
    ASSERT_TRUE(device.waitFor("import started\r\n"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device.waitFor(shown("importdirectory timed out"), kMinute * 3));
    EXPECT_GE(msSince(start), kMinute.count() * 9 / 10);
    EXPECT_EQ(deviceFile(device, "/tmp/webdata/directory"), "first\n");
    EXPECT_FALSE(deviceFile(device, "/tmp/webdata/directory.csv"));

    // No idle limit afterwards either; the session goes on, no longer importing.
    EXPECT_FALSE(device.waitFor("timed out", kMinute * 3 / 2));
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(zuzCount(device, "C: _importdirectory", true), 0);
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
    EXPECT_EQ(device.output().find("Session timed out"), std::string::npos);
}
