// The harness's own promises: bounded waits, window sizes, commands inside the device,
// and the device's behaviour under a user who is not root.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "DeviceSession.h"

using namespace vela::test;

namespace {

DeviceOptions deviceRunning(std::string script) {
    DeviceOptions options;
    options.command = {"sh", "-c", std::move(script)};
    return options;
}

}  // namespace

TEST(SimHarness, WaitsAreBoundedAndConsumeTheirMatch) {
    DeviceSession device(deviceRunning("echo one; echo two; sleep infinity"));
    EXPECT_TRUE(device.waitFor("one"));
    EXPECT_TRUE(device.waitFor("two"));
    EXPECT_EQ(device.outputSinceMatch(), "\r\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(device.waitFor("one", 100ms)) << "already consumed";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(device.waitExit(50ms)) << "still running, so killed";
    EXPECT_FALSE(device.running());

    DeviceSession ended(deviceRunning("echo bye"));
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ended.waitFor("never", 5s)) << "gives up when the terminal has ended";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(SimHarness, SetsAndChangesTheWindowSize) {
    DeviceOptions options = deviceRunning(
        "stty size; trap 'stty size' WINCH; echo ready; while :; do sleep 0.01; done");
    options.rows = 30;
    options.columns = 41;
    DeviceSession device(options);
    EXPECT_TRUE(device.waitFor("30 41"));
    ASSERT_TRUE(device.waitFor("ready"));
    device.resize(12, 20);
    EXPECT_TRUE(device.waitFor("12 20"));
}

TEST(SimHarness, RunsCommandsInsideTheDeviceWithATimeLimit) {
    DeviceSession device(deviceRunning("sleep infinity"));
    auto result = device.runInDevice({"sh", "-c", "cat; echo err >&2; exit 4"}, "input\n");
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.out, "input\n");
    EXPECT_EQ(result.err, "err\n");
    EXPECT_EQ(device.runInDevice({"sleep", "5"}, "", 100ms).status, -1);
    EXPECT_EQ(device.runInDevice({"no-such-program"}).status, 127);
    EXPECT_TRUE(device.signalDaemon("zuz", SIGKILL));
    EXPECT_TRUE(eventually([&] { return !device.connectTcp(); }));
    EXPECT_FALSE(device.signalDaemon("telnetd", SIGHUP));
}

TEST(SimHarness, ConcurrentWritersLoseNoUpdate) {
    DeviceSession device(deviceRunning("sleep infinity"));
    auto result = device.runInDevice(
        {"sh", "-c", "for i in $(seq 1 20); do fw_setenv var$i $i & done; wait"}, "", 10s);
    ASSERT_EQ(result.status, 0);
    auto env = device.state().bootEnv();
    for (int i = 1; i <= 20; ++i)
        EXPECT_EQ(env["var" + std::to_string(i)], std::to_string(i));
}

TEST(SimHarness, DeviceWorksForAUserOtherThanRoot) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root to switch to an unprivileged user";
    std::string state = "/tmp/vela-sim-nobody-" + std::to_string(::getpid());
    std::filesystem::create_directory(state);
    ::chown(state.c_str(), 65534, 65534);
    auto result = runProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                              "--clear-groups", deviceLauncherPath(), "--state", state, "--", "sh",
                              "-c", "id -u; kbox config sw 0; test -S /dev/log && echo log"},
                             "", 10s);
    std::filesystem::remove_all(state);
    if (result.status == 125 && result.err.find("namespace") != std::string::npos)
        GTEST_SKIP() << "user namespaces are not available: " << result.err;
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "0\nconfig sw 0 \nlog\n");
}
