// The secure profile's idle limit ("idletimeoutapi", in minutes) with its record, and
// the import's time limit, on the short-minute shell (CLE_FASTCLOCK_MINUTE_MS ms).
#include <gtest/gtest.h>
#include <signal.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr std::chrono::milliseconds kMinute{CLE_FASTCLOCK_MINUTE_MS};

DeviceOptions secureSession(const Settings &settings) {
    return keptUp(shellWith({"-t", "telnet"}, settings, VELA_FASTCLOCK_BINARY));
}

}  // namespace

// The user is not the administrator here (the application accepts anyone), and has a
// hostile name: sent encoded, greeted with the users' banner, and named literally in
// the security record.
TEST(SessionTimeLimits, IdleSessionEndsWithASecurityRecordNamingTheUserLiterally) {
    const std::string user = "%n%s%x%%\x01\x07\x1b[7m", password = "pw\" x";
    Settings settings = secureProfile(password, "1");
    settings.insert(settings.end(),
                    {{"loginbanneradmin", "Admin"}, {"loginbanneruser", "For@you"}});
    DeviceOptions options = secureSession(settings);
    options.zuzRules = "prefix \"E: _control login\" => result \"success\"\n";
    DeviceSession device(options);
    ASSERT_TRUE(converse(device, {{"Login:", user + "\r"}, {"Password:", password + "\r"}}));
    ASSERT_TRUE(waitForLoop(device));
    const std::string tty = ttyOf(device), logout = "E: _control logout " + tty;
    EXPECT_EQ(zuzCount(device, "E: _control login \"" + hexEncoded(user) + "\" \"" +
                                   hexEncoded(password) + "\" " + tty),
              1);
    EXPECT_NE(device.output().find("\r\nFor\r\nyou\r\n"), std::string::npos);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(endStatus(device, true, kMinute * 3), 0);
    EXPECT_GE(msSince(start), kMinute.count() * 9 / 10);
    EXPECT_NE(device.output().find(shown("Session timed out")), std::string::npos);
    EXPECT_EQ(zuzFrom(device, logout), (std::vector<std::string>{logout, kClear23, "U"}));
    const std::string expected =
        "SECURITY: " + sessionName(device) + ":Session timed out ID: " + user;
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

// Without an idle limit only the import times out, keeping its partial file; the
// session goes on, no longer importing. Its logout does not wait for an application that
// was killed meanwhile.
TEST(SessionTimeLimits, WithoutIdleLimitOnlyTheImportTimesOutKeepingThePartialFile) {
    DeviceSession device(secureSession(secureProfile("secret")));
    ASSERT_TRUE(converse(device, {{"Login:", "admin\r"}, {"Password:", "secret\r"}}));
    ASSERT_TRUE(waitForLoop(device));
    device.type("importdirectory\rfirst\r");
    ASSERT_TRUE(device.waitFor("import started\r\n"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(device.waitFor(shown("importdirectory timed out"), kMinute * 3));
    EXPECT_GE(msSince(start), kMinute.count() * 9 / 10);
    EXPECT_EQ(deviceFile(device, "/tmp/webdata/directory"), "first\n");
    EXPECT_FALSE(deviceFile(device, "/tmp/webdata/directory.csv"));
    EXPECT_FALSE(device.waitFor("timed out", kMinute * 3 / 2));
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(zuzCount(device, "C: _importdirectory", true), 0);

    ASSERT_TRUE(device.signalDaemon("zuz", SIGKILL));
    ASSERT_TRUE(eventually([&] { return !device.connectTcp(); }));
    start = std::chrono::steady_clock::now();
    device.type("\x04");
    EXPECT_EQ(endStatus(device, false), 0);
    EXPECT_LT(msSince(start), 4000) << "the logout would wait five seconds";
    EXPECT_EQ(device.output().find("Session timed out"), std::string::npos);
}
