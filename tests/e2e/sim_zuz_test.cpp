// zuz, the application peer: replies, output to the registered listener, settings,
// logins with their lock-out, and the record of received lines.
#include <gtest/gtest.h>

#include <fstream>

#include "DeviceSession.h"
#include "FakeShell.h"

using namespace vela::test;

namespace {

DeviceOptions idleDevice() {
    DeviceOptions options;
    options.command = {"sleep", "infinity"};
    return options;
}

std::string loginLine(std::string_view user, std::string_view password, std::string_view tty) {
    return "E: _control login \"" + hexEncoded(user) + "\" \"" + hexEncoded(password) + "\" " +
           std::string(tty);
}

}  // namespace

TEST(SimZuz, RepliesToEveryLineButUnregistration) {
    DeviceSession device(idleDevice());
    FakeShell shell(device);
    ASSERT_TRUE(shell.connected());
    EXPECT_EQ(shell.command("R: telnet"), -1) << "registration without path and terminal";
    EXPECT_EQ(shell.registerSession(), 0);
    EXPECT_EQ(shell.command("C: no-such-command"), -1);
    EXPECT_EQ(shell.command("X: version"), -1) << "unknown prefix";
    EXPECT_EQ(shell.command(""), -1) << "an empty line";
    EXPECT_EQ(shell.command("C: crashtest"), -1) << "internal commands only behind D:";
    EXPECT_EQ(shell.command("D: crashtest"), 0);
    EXPECT_EQ(shell.command("C: name Room1"), -1) << "session operations only behind N:";
    ASSERT_TRUE(shell.send("U"));
    // The reply after "U" belongs to the next line.
    EXPECT_EQ(shell.command("C: version"), 0);
    EXPECT_FALSE(shell.readLine(100ms));
}

TEST(SimZuz, SendsOutputBeforeTheReplyAndEventsAfterIt) {
    DeviceSession device(idleDevice());
    FakeShell shell(device);
    ASSERT_EQ(shell.registerSession(), 0);
    ASSERT_EQ(shell.command("C: echo hello  world %n"), 0);
    // Already queued when the reply came.
    EXPECT_EQ(shell.datagram(0ms), "hello  world %n\n");

    ASSERT_EQ(shell.command("C: events 3"), 0);
    auto lines = shell.datagrams();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "raising 3 event(s)\n");
    EXPECT_EQ(lines[3], "event 3 of 3: call status changed\n");
    EXPECT_EQ(shell.command("C: events 0"), 1);
    EXPECT_EQ(shell.datagram(), "usage: events [1..10000]\n");

    // Unregistered, output goes nowhere.
    ASSERT_TRUE(shell.send("U"));
    ASSERT_EQ(shell.command("C: echo lost"), 0);
    EXPECT_FALSE(shell.datagram(100ms));
}

TEST(SimZuz, SurvivesAVanishedListenerAndAnOverlongLine) {
    DeviceSession device(idleDevice());
    FakeShell shell(device);
    ASSERT_EQ(shell.registerSession("telnet", "/dev/pts/1"), 0);
    ASSERT_EQ(device.runInDevice({"rm", shell.listenerPath()}).status, 0);
    EXPECT_EQ(shell.command("C: echo into the void"), 0);

    // A line over the transport's limit ends that connection only.
    ASSERT_TRUE(shell.send("C: echo " + std::string(20000, 'y')));
    EXPECT_TRUE(shell.closedByPeer());
    FakeShell other(device, "velaother");
    EXPECT_EQ(other.registerSession(), 0);
}

TEST(SimZuz, StoresSettingsWithoutOutput) {
    DeviceSession device(idleDevice());
    FakeShell shell(device);
    ASSERT_EQ(shell.registerSession(), 0);
    EXPECT_EQ(shell.command("E: execwithoutecho systemsetting telnet_client_23 10.1.2.3"), 0);
    EXPECT_EQ(shell.command("E: execwithoutecho systemsetting telnet_client_23_success True"), 0);
    EXPECT_EQ(shell.command("E: execwithoutecho systemsetting telnet_client_24 "), 0);
    EXPECT_EQ(shell.command("E: execwithoutecho systemsetting bad=name x"), 1);
    EXPECT_TRUE(shell.datagrams(50ms).empty());
    EXPECT_EQ(device.state().setting("telnet_client_23"), "10.1.2.3");
    EXPECT_EQ(device.state().setting("telnet_client_24"), "");

    auto kbox =
        device.runInDevice({"/opt/halvern/bin/kbox", "config", "telnet_client_23_success", "0"});
    EXPECT_EQ(kbox.out, "config telnet_client_23_success 0 True\n");
    EXPECT_EQ(shell.command("C: systemsetting telnet_client_23"), 0);
    EXPECT_EQ(shell.datagram(), "telnet_client_23 = 10.1.2.3\n");
}

TEST(SimZuz, ChecksLoginsAndLocksATerminalAfterThreeFailures) {
    DeviceOptions options = idleDevice();
    options.settings = {{"sw", "s3cret"}, {"adminuserid", "boss"}};
    options.lockoutMs = 500;
    DeviceSession device(options);
    FakeShell shell(device);
    ASSERT_EQ(shell.registerSession(), 0);
    auto attempt = [&](std::string_view user, std::string_view password,
                       std::string_view tty = "/dev/pts/99") {
        EXPECT_EQ(shell.command(loginLine(user, password, tty)), 0);
        return shell.datagram().value_or("<none>");
    };

    EXPECT_EQ(shell.command("E: whoami"), 0);
    EXPECT_EQ(shell.datagram(), "boss\n") << "the configured admin id before a login";
    EXPECT_EQ(attempt("boss", "s3cret"), "success\n");
    EXPECT_EQ(attempt("admin", "s3cret"), "failed\n");
    EXPECT_EQ(attempt("boss", "wrong"), "failed\n");
    EXPECT_EQ(attempt("boss", "s3cret\r"), "failed\n") << "the third failure locks";
    EXPECT_EQ(attempt("boss", "s3cret"), "lockout\n");
    EXPECT_EQ(attempt("boss", "s3cret", "/dev/pts/5"), "success\n") << "other terminals are open";
    ASSERT_TRUE(eventually([&] { return attempt("boss", "s3cret") == "success\n"; }, 2s));

    EXPECT_EQ(shell.command("E: _control login \"zz\" \"\" /dev/pts/99"), 1);
    EXPECT_EQ(shell.datagram(), "failed\n") << "a malformed request still gets its result";
    EXPECT_EQ(shell.command("E: _control logout /dev/pts/99"), 0);
    EXPECT_EQ(shell.datagram(), "success\n");
    auto records = device.syslogRecords();
    bool logged = false;
    for (const auto &r : records) {
        EXPECT_EQ(r.message.find("s3cret"), std::string::npos) << "no password in the log";
        logged = logged ||
                 r.message.find("login of \"boss\" on /dev/pts/99: lockout") != std::string::npos;
    }
    EXPECT_TRUE(logged);
}

TEST(SimZuz, RecordsEveryReceivedLineEscaped) {
    DeviceSession device(idleDevice());
    FakeShell shell(device);
    ASSERT_TRUE(shell.connected());
    // The line reader drops NULs and outer control bytes; inner ones stay.
    ASSERT_TRUE(
        shell.sendRaw("C: echo a\tb\\c\x01"
                      "d\r\n\tC: second\nU\n"));
    ASSERT_TRUE(shell.readLine());
    ASSERT_TRUE(shell.readLine());
    ASSERT_TRUE(device.waitForZuzLine("U"));
    std::vector<std::string> expected = {
        "C: echo a\tb\\c\x01"
        "d",
        "C: second", "U"};
    EXPECT_EQ(device.zuzReceived(), expected);
    std::ifstream raw(device.state().path("zuz-received.log"));
    std::string first;
    std::getline(raw, first);
    EXPECT_EQ(first, "C: echo a\\tb\\\\c\\x01d");
}

TEST(SimZuz, ImportsRebootsAndNamesSessions) {
    DeviceSession device(idleDevice());
    FakeShell shell(device);
    ASSERT_EQ(shell.registerSession("api", "/dev/pts/4"), 0);
    ASSERT_EQ(device
                  .runInDevice({"sh", "-c",
                                "mkdir -p /tmp/webdata && printf 'a;b\\nc;d\\ne' "
                                "> /tmp/webdata/directory.csv"})
                  .status,
              0);
    EXPECT_EQ(shell.command("C: _importdirectory /tmp/webdata/directory.csv"), 0);
    EXPECT_EQ(shell.datagram(), "imported /tmp/webdata/directory.csv: 3 lines, 9 bytes\n");
    EXPECT_EQ(shell.command("C: _importdirectory /tmp/webdata/missing.xml"), 1);
    EXPECT_EQ(shell.datagram().value_or("").rfind("error: cannot read", 0), 0u);

    EXPECT_EQ(shell.command("E: reboot now"), 0);
    EXPECT_EQ(shell.datagram(), "The system is going down for reboot NOW\n");
    EXPECT_EQ(shell.command("E: version"), 0) << "the simulated device stays up";

    FakeShell other(device, "vela7");
    ASSERT_EQ(other.registerSession("telnet", "/dev/pts/7"), 0);
    EXPECT_EQ(other.command("N: name Room1"), 0);
    EXPECT_EQ(other.datagram(), "session name: Room1\n");
    shell.datagrams(0ms);
    EXPECT_EQ(shell.command("N: find Room1"), 0);
    EXPECT_EQ(shell.datagram(), "found Room1 on /dev/pts/7\n");
    EXPECT_EQ(shell.command("N: find Room2"), 0);
    EXPECT_EQ(shell.datagram(), "no session named Room2\n");
}
