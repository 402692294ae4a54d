// The device launcher: what a device holds, isolation from the host and from other
// devices, exit statuses, and that nothing outlives a device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "DeviceSession.h"

using namespace vela::test;

namespace {

DeviceOptions deviceRunning(std::string script) {
    DeviceOptions options;
    options.command = {"sh", "-c", std::move(script)};
    return options;
}

ino_t pidNamespaceOf(pid_t pid) {
    struct stat st {};
    ::stat(("/proc/" + std::to_string(pid) + "/ns/pid").c_str(), &st);
    return st.st_ino;
}

// Host processes still inside the pid namespace with that inode.
int processesIn(ino_t ns) {
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat st {};
        if (::stat((entry.path() / "ns/pid").c_str(), &st) == 0 && st.st_ino == ns) ++count;
    }
    return count;
}

}  // namespace

TEST(SimLauncher, BuildsTheDeviceTheShellExpects) {
    DeviceSession device(
        deviceRunning("test -r /tmp/VelaReady && echo ready;"
                      "stat -c '%a %U' /tmp/apiasynclisteners /tmp/sysloglisteners;"
                      "test -S /dev/log && echo devlog;"
                      "for p in kbox crashreport fw_setenv fw_printenv zuz; do command -v $p; done;"
                      "tty; echo null >/dev/null && echo pid$$;"
                      "cat /proc/1/comm; echo end; read line; echo got:$line"));
    ASSERT_TRUE(device.waitFor("end"));
    std::string out = device.output();
    EXPECT_NE(out.find("ready\r\n1777 root\r\n1777 root\r\ndevlog\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("/opt/halvern/bin/kbox\r\n/opt/halvern/bin/crashreport\r\n"
                       "/opt/halvern/bin/fw_setenv\r\n/opt/halvern/bin/fw_printenv\r\n"
                       "/opt/halvern/bin/zuz\r\n/dev/pts/"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("device-init"), std::string::npos);
    device.type("typed\r");
    EXPECT_TRUE(device.waitFor("got:typed"));
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SimLauncher, LeavesTheHostAndOtherDevicesAlone) {
    struct stat hostLog {};
    bool hadLog = ::stat("/dev/log", &hostLog) == 0;
    std::string marker = "/tmp/vela-sim-marker-" + std::to_string(::getpid());
    DeviceSession one(deviceRunning("touch " + marker + "; sleep infinity"));
    DeviceSession two(deviceRunning("sleep infinity"));
    ASSERT_TRUE(eventually([&] { return one.runInDevice({"test", "-e", marker}).status == 0; }));
    EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "the host's /tmp is not the device's";
    EXPECT_NE(two.runInDevice({"test", "-e", marker}).status, 0);
    EXPECT_TRUE(one.connectTcp());
    EXPECT_TRUE(two.connectTcp()) << "each device has its own port 4121";
    EXPECT_NE(pidNamespaceOf(one.initPid()), pidNamespaceOf(two.initPid()));
    struct stat after {};
    EXPECT_EQ(::stat("/dev/log", &after) == 0, hadLog);
    if (hadLog) {
        EXPECT_EQ(after.st_ino, hostLog.st_ino);
    }
}

TEST(SimLauncher, InstallsHostFilesEvenFromUnderTheHostTmp) {
    // CI builds under /tmp, which the device hides.
    std::string script = "/tmp/vela-sim-script-" + std::to_string(::getpid());
    std::ofstream(script) << "#!/bin/sh\necho installed \"$@\"\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    DeviceOptions options = deviceRunning("exec vela a b");
    options.velaBinary = script;
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor("installed a b"));
    EXPECT_EQ(device.waitExit(), 0);
    std::filesystem::remove(script);
}

TEST(SimLauncher, PassesTheExitStatusThrough) {
    {
        DeviceSession device(deviceRunning("exit 3"));
        EXPECT_EQ(device.waitExit(), 3);
    }
    {
        DeviceSession device(deviceRunning("kill -TERM $$"));
        EXPECT_EQ(device.waitExit(), 128 + 15);
    }
    {
        DeviceOptions options;
        options.command = {"/opt/halvern/bin/vela"};
        DeviceSession device(options);
        EXPECT_EQ(device.waitExit(), 127) << "nothing installed there";
        EXPECT_NE(device.output().find("cannot run /opt/halvern/bin/vela"), std::string::npos);
    }
}

TEST(SimLauncher, RefusesBadOptionsWithStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", "--", "true"},
        {"--state"},
        {"--no-ready"},
        {"--install", "/bin/sh=/usr/bin/sh", "true"},
        {"--install", "/bin/sh=/opt/sim/sh", "true"},
        {"--install", "/no/such/file=/opt/x", "true"},
        {"--setting", "novalue", "true"},
        {"--zuz-start-delay", "soon", "true"},
    };
    for (const auto &args : cases) {
        std::vector<std::string> argv = {deviceLauncherPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        auto result = runProcess(argv, "", 5s);
        EXPECT_EQ(result.status, 2) << args[0];
        EXPECT_EQ(result.err.rfind("device: ", 0), 0u) << result.err;
    }
}

TEST(SimLauncher, OmitsWhatTheOptionsTakeAway) {
    DeviceOptions options = deviceRunning(
        "for f in /tmp/VelaReady /tmp/apiasynclisteners /tmp/sysloglisteners /dev/log "
        "/opt/sim/zuz.pid /opt/sim/syslogd.pid; do "
        "test -e $f && echo has:$f; done; echo done");
    options.readyMarker = options.apiListenerDir = options.syslogListenerDir = false;
    options.zuz = options.syslogd = false;
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor("done"));
    EXPECT_EQ(device.output().find("has:"), std::string::npos) << device.output();
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SimLauncher, DelayedApplicationDoesNotHoldUpTheCommand) {
    DeviceOptions options = deviceRunning("sleep infinity");
    options.zuzStartDelayMs = 600;
    auto start = std::chrono::steady_clock::now();
    DeviceSession device(options);
    EXPECT_FALSE(device.connectTcp()) << "refused while the application starts";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(eventually([&] { return static_cast<bool>(device.connectTcp()); }, 3s));
}

TEST(SimLauncher, NothingOutlivesTheDevice) {
    ino_t ns;
    {
        DeviceSession device(deviceRunning("sleep infinity"));
        ns = pidNamespaceOf(device.initPid());
        ASSERT_TRUE(
            device.runInDevice({"sh", "-c", "setsid sleep 1000 >/dev/null 2>&1 & echo started"})
                .out == "started\n");
        EXPECT_GE(processesIn(ns), 5);
    }
    EXPECT_EQ(processesIn(ns), 0) << "after the destructor";

    DeviceSession device(deviceRunning("sleep 0.05"));
    ns = pidNamespaceOf(device.initPid());
    EXPECT_EQ(device.waitExit(), 0);
    EXPECT_TRUE(eventually([&] { return processesIn(ns) == 0; }, 1s)) << "after the command ended";
}

TEST(SimLauncher, HangingUpTheTerminalEndsTheCommand) {
    DeviceSession device(deviceRunning("echo reading; read line; echo eof:$? >/opt/sim/after"));
    ASSERT_TRUE(device.waitFor("reading"));
    device.closeTerminal();
    EXPECT_TRUE(device.waitExit(2s).has_value());
    std::string after;
    std::getline(std::ifstream(device.state().path("after")), after);
    EXPECT_EQ(after, "eof:1") << "the command read the end of its input";
}
