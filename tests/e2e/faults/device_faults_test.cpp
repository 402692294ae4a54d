// Device services that are missing, dead, slow or broken: syslogd, the configuration
// tool kbox, the import directory, the listener directories. Each test names the outcome
// it expects.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const char *const kKbox = "/opt/halvern/bin/kbox";

// An executable shell script on the host, removed with the object.
class HostScript {
  public:
    explicit HostScript(const std::string &body)
        : path_(testing::TempDir() + "faults-tool-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter_++)) {
        std::ofstream(path_) << "#!/bin/sh\n" << body;
        ::chmod(path_.c_str(), 0755);
    }
    ~HostScript() { ::unlink(path_.c_str()); }
    const std::string &path() const { return path_; }

  private:
    static inline int counter_ = 0;
    std::string path_;
};

// The shell of this type run after setup (a sh command line) inside the device; sh then
// prints "[status N]" and keeps the device up.
DeviceOptions shellAfter(const std::string &setup, const std::string &type) {
    DeviceOptions options = shellWith({});
    options.command = {"sh", "-c",
                       setup + "; " + kDeviceVela + " -t " + type +
                           " --nobanner; echo \"[status $?]\"; exec sleep 30"};
    return options;
}

bool hasRecordEnding(const DeviceSession &device, const std::string &end) {
    for (const auto &message : velaRecords(device))
        if (message.size() >= end.size() &&
            message.compare(message.size() - end.size(), end.size(), end) == 0)
            return true;
    return false;
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
    HostScript malformed("echo \"kbox: out of order\"\n");
    DeviceOptions options = shellAfter("true", "api");
    options.installs = {{malformed.path(), kKbox}};
    options.settings = {{"sw", "secret"}};
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor("[status 1]")) << device.output();
    EXPECT_TRUE(device.zuzReceived().empty());
    EXPECT_TRUE(
        eventually([&] { return hasRecordEnding(device, ":0:Cannot get enableSecureProfile"); }));
    EXPECT_EQ(device.output().find("Password"), std::string::npos);
}

TEST(FaultsDevice, MissingOrSilentKboxReadsAsUnsetSettings) {
    // A tool that cannot run or says nothing gives empty values: the session opens as on a
    // device without a password (the device's own tool is part of its trusted base).
    HostScript silent("exit 0\n");
    const std::pair<std::string, std::vector<std::pair<std::string, std::string>>> cases[] = {
        {std::string("umount ") + kKbox + " && rm " + kKbox, {}},
        {"true", {{silent.path(), kKbox}}},
    };
    for (const auto &[setup, installs] : cases) {
        DeviceOptions options = shellAfter(setup, "telnet");
        options.installs = installs;
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
    HostScript slow(
        "if [ \"$2\" = eol ]; then echo \"config eol 0 True\"; exit 0; fi\nexec sleep 60\n");
    DeviceOptions options = shellAfter("true", "telnet");
    options.installs = {{slow.path(), kKbox}};
    const auto start = std::chrono::steady_clock::now();
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor("[status 1]", std::chrono::seconds(15)));
    EXPECT_GE(msSince(start), 9500);
    EXPECT_LT(msSince(start), 13000);
    EXPECT_EQ(device.runInDevice({"pgrep", "-c", "-x", "sleep"}).out, "1\n")
        << "kbox was stopped; only sh's own sleep is left";
    EXPECT_TRUE(device.zuzReceived().empty());
}

TEST(FaultsDevice, ReadOnlyImportDirectoryRefusesTheImportAndTheSessionGoesOn) {
    DeviceSession device(
        shellAfter("mkdir /tmp/webdata && mount -t tmpfs -o ro none /tmp/webdata", "telnet"));
    ASSERT_TRUE(waitForLoop(device));
    device.type("importdirectory\r");
    EXPECT_TRUE(device.waitFor("ERROR: could not open file.\r\n"));
    // Not importing: the next line is a command again.
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(zuzCount(device, "C: importdirectory"), 0);
    device.type("\x04");
    EXPECT_TRUE(device.waitFor("[status 0]"));
}

TEST(FaultsDevice, FullImportDirectoryFailsTheImportInsteadOfHandingOverACutFile) {
    // 16 KiB of room for a paste of 50 KiB: the application must not be told about a
    // file that lost lines.
    DeviceSession device(
        shellAfter("mkdir /tmp/webdata && mount -t tmpfs -o size=16k none /tmp/webdata", "telnet"));
    ASSERT_TRUE(waitForLoop(device));
    std::string paste = "importdirectory\r";
    for (int i = 0; i < 100; ++i)
        paste += std::to_string(i) + "," + std::string(500, 'x') + "\r";
    device.type(paste + "importcomplete\r");
    EXPECT_TRUE(device.waitFor("ERROR: could not write file.\r\n"));
    device.type("version\r");
    EXPECT_TRUE(device.waitForZuzLine("C: version"));
    EXPECT_EQ(zuzCount(device, "C: _importdirectory", true), 0);
    device.type("\x04");
    EXPECT_TRUE(device.waitFor("[status 0]"));
}

TEST(FaultsDevice, MissingApiListenerDirectoryRefusesTheSessionWithItsMessages) {
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
    options.apiListenerDir = false;
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor(shown("setupSocket: bind() error: No such file or directory")));
    EXPECT_TRUE(device.waitFor(shown("setupSocket: chmod() error: No such file or directory")));
    EXPECT_TRUE(device.waitFor(shown("error: vela failed to setup async listener")));
    EXPECT_EQ(endStatus(device, false), 255);
    EXPECT_TRUE(device.zuzReceived().empty()) << "nothing registered, nothing to withdraw";
}

TEST(FaultsDevice, MissingSyslogListenerDirectoryCostsOnlyTheLiveLog) {
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
    options.syslogListenerDir = false;
    DeviceSession device(options);
    ASSERT_TRUE(waitForLoop(device));
    EXPECT_NE(device.output().find(shown("setupSocket: bind() error: No such file or directory")),
              std::string::npos);
    EXPECT_NE(exchange(device, "version").find("libxcom 0.0.1"), std::string::npos);
    device.type("\x04");
    EXPECT_EQ(endStatus(device), 0);
}
