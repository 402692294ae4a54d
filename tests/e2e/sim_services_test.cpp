// The device's tools and its log daemon: kbox, fw_setenv/fw_printenv, crashreport,
// syslogd's records and its forwarding to listeners after SIGHUP.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <regex>

#include "DeviceSession.h"

using namespace vela::test;

namespace {

DeviceOptions idleDevice() {
    DeviceOptions options;
    options.command = {"sleep", "infinity"};
    return options;
}

// Sends one raw record to the device's /dev/log.
void sendLog(DeviceSession &device, const std::string &datagram) {
    auto log = device.connectDatagram("/dev/log");
    ASSERT_TRUE(log);
    ASSERT_EQ(::send(log.get(), datagram.data(), datagram.size(), 0),
              static_cast<ssize_t>(datagram.size()));
}

// The next datagram on fd; empty after timeout.
std::string receive(int fd, std::chrono::milliseconds timeout = 2s) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return "";
    char buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
}

}  // namespace

TEST(SimTools, KboxAnswersSettingsAndRefusesWhatItDoesNotKnow) {
    DeviceOptions options = idleDevice();
    options.settings = {{"eol", "False"}, {"securitybanner", "Authorized use only"}};
    DeviceSession device(options);
    const std::pair<const char *, const char *> expected[] = {
        {"enablesecureprofile", "Off"}, {"sw", ""},
        {"adminuserid", "admin"},       {"securitybanner", "Authorized use only"},
        {"idletimeoutapi", "Off"},      {"eol", "False"},
        {"loginbanneradmin", ""},       {"loginbanneruser", ""}};
    for (const auto &[name, value] : expected) {
        auto result = device.runInDevice({"/opt/halvern/bin/kbox", "config", name, "0"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, std::string("config ") + name + " 0 " + value + "\n");
    }
    auto unknown = device.runInDevice({"kbox", "config", "nosuchthing", "0"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "");
    EXPECT_NE(unknown.err.find("nosuchthing"), std::string::npos);
    EXPECT_EQ(device.runInDevice({"kbox", "config", "sw", "1"}).status, 2);
    EXPECT_EQ(device.runInDevice({"kbox", "get", "sw"}).status, 2);
}

TEST(SimTools, BootEnvironmentKeepsArgumentsVerbatim) {
    DeviceSession device(idleDevice());
    const std::string value = "a b;$(reboot) `x` \"q\" 'r' \\ *";
    EXPECT_EQ(device.runInDevice({"fw_setenv", "bootargs", value}).status, 0);
    EXPECT_EQ(device.runInDevice({"fw_setenv", "bootdelay"}).status, 0);
    EXPECT_EQ(device.runInDevice({"fw_setenv", "bad=name", "x"}).status, 1);
    auto env = device.state().bootEnv();
    EXPECT_EQ(env["bootargs"], value);
    EXPECT_EQ(env.count("bootdelay"), 0u);
    EXPECT_EQ(env["baudrate"], "115200") << "factory values stay";

    auto printed = device.runInDevice({"fw_printenv", "bootargs", "nothere"});
    EXPECT_EQ(printed.status, 1);
    EXPECT_EQ(printed.out, "bootargs=" + value + "\n");
    auto all = device.runInDevice({"sh", "-c", "fw_printenv"});
    EXPECT_NE(all.out.find("baudrate=115200\nbootargs=" + value + "\n"), std::string::npos);

    auto calls = device.state().toolInvocations();
    ASSERT_GE(calls.size(), 2u);
    std::vector<std::string> first = {"fw_setenv", "bootargs", value};
    EXPECT_EQ(calls[0], first);
    EXPECT_EQ(calls[1].size(), 2u);
}

TEST(SimTools, CrashreportTakesEnableOrDisableOnly) {
    DeviceSession device(idleDevice());
    EXPECT_EQ(device.runInDevice({"sh", "-c", "/opt/halvern/bin/crashreport enable"}).status, 0);
    EXPECT_EQ(device.state().crashReportState(), "enabled");
    EXPECT_EQ(device.runInDevice({"/opt/halvern/bin/crashreport", "disable"}).status, 0);
    EXPECT_EQ(device.state().crashReportState(), "disabled");
    auto bad = device.runInDevice({"/opt/halvern/bin/crashreport", "Enable"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("usage:"), std::string::npos);
    EXPECT_EQ(device.runInDevice({"/opt/halvern/bin/crashreport"}).status, 1);
    EXPECT_EQ(device.state().toolInvocations().size(), 4u);
}

TEST(SimSyslogd, KeepsRecordsFromTheCLibraryAndRawSenders) {
    DeviceSession device(idleDevice());
    auto comm = device.runInDevice(
        {"cat", "/proc/" + std::to_string(device.state().daemonPid("syslogd")) + "/stat"});
    EXPECT_NE(comm.out.find("(syslogd)"), std::string::npos);

    // The C library's form, with a trailing LF, as the shell's records arrive.
    sendLog(device, "<69>Dec  5 19:27:22 vela: API:telnet3:5:IN:version\n");
    sendLog(device, "<13>Dec  5 19:27:22 tool[42]: with pid");
    sendLog(device, "no header at all\n\n");
    sendLog(device, "<999>bad priority");
    ASSERT_TRUE(eventually([&] { return device.syslogRecords().size() >= 5; }));
    auto records = device.syslogRecords();
    auto find = [&](const std::string &message) {
        for (const auto &r : records) {
            if (r.message == message) return r;
        }
        return SyslogRecord{-1, "", "", "<missing " + message + ">"};
    };
    auto shell = find("API:telnet3:5:IN:version");
    EXPECT_EQ(shell.priority, 69);
    EXPECT_EQ(shell.identity, "vela");
    auto tool = find("with pid");
    EXPECT_EQ(tool.identity, "tool");
    EXPECT_EQ(tool.pid, "42");
    EXPECT_EQ(find("no header at all").identity, "");
    EXPECT_EQ(find("<999>bad priority").priority, 13);
}

TEST(SimSyslogd, ForwardsLinesToListenersAfterHangup) {
    DeviceSession device(idleDevice());
    auto first = device.bindDatagram("/tmp/sysloglisteners/vela3");
    ASSERT_TRUE(first);
    sendLog(device, "<69>vela: before the hangup");
    ASSERT_TRUE(device.signalDaemon("syslogd", SIGHUP));
    sendLog(device, "<69>vela: SECURITY: telnet3:Session timed out ID: admin");

    std::string line = receive(first.get());
    std::regex layout(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d notice vela: SECURITY: telnet3:Session timed out ID: admin\n)");
    EXPECT_TRUE(std::regex_match(line, layout)) << line;
    EXPECT_EQ(line.substr(20, 7), "notice ");

    // The hangup has been handled; a listener made now waits for the next one.
    auto second = device.bindDatagram("/tmp/sysloglisteners/vela4");
    sendLog(device, "<70>zuz: status shown");
    EXPECT_EQ(receive(first.get()).substr(20), "info zuz: status shown\n");
    EXPECT_EQ(receive(second.get(), 0ms), "") << "a listener joins at the next hangup";

    // A listener that went away is dropped; the others go on; lines are cut at 1024.
    first.reset();
    ASSERT_TRUE(device.signalDaemon("syslogd", SIGHUP));
    sendLog(device, "<3>zuz: " + std::string(2000, 'z'));
    line = receive(second.get());
    ASSERT_EQ(line.size(), 1024u);
    EXPECT_EQ(line.substr(20, 9), "err zuz: ");
}
