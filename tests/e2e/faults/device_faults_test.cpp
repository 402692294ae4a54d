// Device services that are missing, dead, slow or broken: syslogd, the configuration
// tool kbox, the import directory, the listener directories. Each test names the outcome
// it expects.
#include <gtest/gtest.h>
#include <signal.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kKbox = "/opt/halvern/bin/kbox";

// The shell of this type run after setup (a sh command line) inside the device; sh then
// prints "[status N]" and keeps the device up.
DeviceOptions shellAfter(const std::string &setup, const std::string &type) {
    DeviceOptions options = keptUp(shellWith({"-t", type, "--nobanner"}));
    options.command[2] = setup + "; " + options.command[2];
    return options;
}

// A setup that replaces the device's kbox with a script of this body (no single quotes).
std::string kboxScript(const std::string &body) {
    return "umount " + kKbox + " && printf '%s' '#!/bin/sh\n" + body + "' > " + kKbox +
           " && chmod 755 " + kKbox;
}

}  // namespace

TEST(FaultsDevice, KilledSyslogdLeavesAMirroredSessionWorking) {
    DeviceSession device(keptUp(shellWith({"-t", "api", "--nobanner"})));
    ASSERT_TRUE(waitForLoop(device));
    ASSERT_TRUE(device.signalDaemon("syslogd", SIGKILL));
    ASSERT_TRUE(eventually([&] { return device.runInDevice({"pidof", "syslogd"}).status != 0; }));
    // Every line and every output line is still handed to the dead log.
    for (int i = 0; i < 30; ++i)
        EXPECT_NE(vela::test::exchange(device, "echo line" + std::to_string(i)).find("line"),
                  std::string::npos);
    device.type("nosuch\r");
    EXPECT_TRUE(device.waitFor(shown("error: command not found")));
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}

TEST(FaultsDevice, MalformedKboxAnswerRefusesTheStart) {
    // An answer of the wrong form is an access failure: status 1 and its record, before
    // anything reaches zuz.
    DeviceOptions options = shellAfter(kboxScript("echo \"kbox: out of order\""), "api");
    options.settings = {{"sw", "secret"}};
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor("[status 1]")) << device.output();
    EXPECT_TRUE(device.zuzReceived().empty());
    EXPECT_TRUE(waitForRecord(device, ":0:Cannot get enableSecureProfile"));
    EXPECT_EQ(device.output().find("Password"), std::string::npos);
}

TEST(FaultsDevice, MissingOrSilentKboxReadsAsUnsetSettings) {
    // A tool that cannot run or says nothing gives empty values: the session opens as on a
    // device without a password (the device's own tool is part of its trusted base).
    for (const std::string &setup : {"umount " + kKbox + " && rm " + kKbox, kboxScript("exit 0")}) {
        DeviceOptions options = shellAfter(setup, "telnet");
        options.settings = {{"sw", "secret"}};
        DeviceSession device(options);
        EXPECT_TRUE(waitForLoop(device)) << setup << device.output();
        EXPECT_EQ(device.output().find("Password"), std::string::npos) << setup;
        device.type("\x04");
        EXPECT_EQ(endStatus(device), 0) << setup;
    }
}

TEST(FaultsDevice, SlowKboxIsStoppedAfterTenSecondsAndTheStartFails) {
    // kbox answers the line-end setting at once and then hangs: the start gives it ten
    // seconds, stops it and ends as for a setting it cannot read.
    DeviceOptions options = shellAfter(
        kboxScript(
            "if [ \"$2\" = eol ]; then echo \"config eol 0 True\"; exit 0; fi\nexec sleep 60"),
        "telnet");
    const auto start = std::chrono::steady_clock::now();
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor("[status 1]", std::chrono::seconds(15)));
    EXPECT_GE(msSince(start), 9500);
    EXPECT_LT(msSince(start), 13000);
    EXPECT_EQ(device.runInDevice({"pgrep", "-c", "-x", "sleep"}).out, "1\n")
        << "kbox was stopped; only sh's own sleep is left";
    EXPECT_TRUE(device.zuzReceived().empty());
}

TEST(FaultsDevice, ImportDirectoryThatCannotBeWrittenFailsTheImportAndTheSessionGoesOn) {
    // Read-only, or 16 KiB of room for a paste of 50 KiB: the application is never told
    // about a file that lost lines, and the next line is a command again.
    std::string paste;
    for (int i = 0; i < 100; ++i)
        paste += std::to_string(i) + "," + std::string(500, 'x') + "\r";
    const std::tuple<const char *, std::string, const char *> cases[] = {
        {"ro", "", "open"}, {"size=16k", paste + "importcomplete\r", "write"}};
    for (const auto &[mountOption, typed, failure] : cases) {
        SCOPED_TRACE(mountOption);
        DeviceSession device(shellAfter(std::string("mkdir /tmp/webdata && mount -t tmpfs -o ") +
                                            mountOption + " none /tmp/webdata",
                                        "telnet"));
        ASSERT_TRUE(waitForLoop(device));
        device.type("importdirectory\r" + typed);
        EXPECT_TRUE(device.waitFor("ERROR: could not " + std::string(failure) + " file.\r\n"));
        device.type("version\r");
        EXPECT_TRUE(device.waitForZuzLine("C: version"));
        EXPECT_EQ(zuzCount(device, "C: importdirectory") + zuzCount(device, "C: _import", true), 0);
        device.type("\x04");
        EXPECT_TRUE(device.waitFor("[status 0]"));
    }
}

TEST(FaultsDevice, MissingApiListenerDirectoryRefusesTheSessionWithItsMessages) {
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
    options.launcherArguments = {"--no-api-listener-dir"};
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor(shown("setupSocket: bind() error: No such file or directory")));
    EXPECT_TRUE(device.waitFor(shown("setupSocket: chmod() error: No such file or directory")));
    EXPECT_TRUE(device.waitFor(shown("error: vela failed to setup async listener")));
    EXPECT_EQ(endStatus(device, false), 255);
    EXPECT_TRUE(device.zuzReceived().empty()) << "nothing registered, nothing to withdraw";
}

TEST(FaultsDevice, MissingSyslogListenerDirectoryCostsOnlyTheLiveLog) {
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
    options.launcherArguments = {"--no-syslog-listener-dir"};
    DeviceSession device(options);
    ASSERT_TRUE(waitForLoop(device));
    // The live log's thread reports it whenever it gets to it.
    EXPECT_TRUE(device.waitFor(shown("setupSocket: bind() error: No such file or directory")));
    EXPECT_NE(exchange(device, "version").find("libxcom 0.0.1"), std::string::npos);
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}
