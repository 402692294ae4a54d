// Paths and programs that nobody but the device decides: links planted where the shell
// creates its listener sockets are replaced, never followed, and no environment
// variable redirects a device path or a program the shell runs. Only fw_setenv and
// fw_printenv are looked up on PATH, by design.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "ShellOnDevice.h"

using namespace vela::test;

TEST(SecurityPaths, LinksPlantedAtTheListenerSocketsAreReplacedNotFollowed) {
    DeviceOptions options = shellWith({});
    options.command = {
        "sh", "-c",
        "for t in api log; do echo keep > /tmp/$t-target; chmod 600 /tmp/$t-target; done; "
        "for n in $(seq 0 99); do ln -s /tmp/api-target /tmp/apiasynclisteners/vela$n; "
        "ln -s /tmp/log-target /tmp/sysloglisteners/vela$n; done; exec " +
            std::string(kDeviceVela) + " -t telnet"};
    DeviceSession device(options);
    ASSERT_TRUE(waitForLoop(device));
    const std::string leaf = "vela" + ttyOf(device).substr(9);
    // Both sockets work: zuz's output and a log line arrive.
    EXPECT_NE(vela::test::exchange(device, "echo through the socket").find("through the socket"),
              std::string::npos);
    auto logSocket = device.connectDatagram("/dev/log");
    const std::string line = "<13>probe: through the log socket";
    ASSERT_EQ(::send(logSocket.get(), line.data(), line.size(), 0),
              static_cast<ssize_t>(line.size()));
    EXPECT_TRUE(device.waitFor("probe: through the log socket"));
    EXPECT_EQ(
        device
            .runInDevice({"stat", "-c", "%F %a", "/tmp/apiasynclisteners/" + leaf,
                          "/tmp/sysloglisteners/" + leaf, "/tmp/api-target", "/tmp/log-target"})
            .out,
        "socket 666\nsocket 666\nregular file 600\nregular file 600\n");
    EXPECT_EQ(device.runInDevice({"cat", "/tmp/api-target", "/tmp/log-target"}).out,
              "keep\nkeep\n");
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SecurityPaths, EnvironmentRedirectsOnlyTheBootToolsWhichAreLookedUpOnPath) {
    // One fake for every tool: it leaves a mark and answers any setting as empty, so a
    // fake kbox would let the session in without its password.
    DeviceOptions options = shellWith({}, {{"sw", "secret"}}, VELA_BETARC_BINARY);
    options.command = {
        "sh", "-c",
        R"(mkdir /tmp/fake && printf '#!/bin/sh\ntouch /tmp/ran-${0##*/}\necho "config $2 0 "\n')"
        R"( > /tmp/fake/kbox && chmod 755 /tmp/fake/kbox && )"
        R"(for t in crashreport fw_setenv fw_printenv sh; do cp /tmp/fake/kbox /tmp/fake/$t; done; )"
        "exec env PATH=/tmp/fake:$PATH TMPDIR=/tmp/fake HOME=/tmp/fake " +
            std::string(kDeviceVela) + " -t telnet"};
    DeviceSession device(options);
    ASSERT_TRUE(converse(device, {{"Password:", "secret\r"}})) << device.output();
    ASSERT_TRUE(waitForLoop(device));
    EXPECT_EQ(zuzCount(device, "R: telnet /tmp/apiasynclisteners/vela", true), 1);
    device.type("crashreport enable\r");
    EXPECT_TRUE(device.waitFor(shown("crash reporting enabled")));
    device.type("importdirectory\rone\rimportcomplete\r");
    EXPECT_TRUE(device.waitForZuzLine("C: _importdirectory /tmp/webdata/directory.csv"));
    EXPECT_EQ(deviceFile(device, "/tmp/webdata/directory.csv"), "one\n");
    device.type("setenv a b\rprintenv\r");
    EXPECT_TRUE(eventually([&] { return deviceFile(device, "/tmp/ran-fw_printenv").has_value(); }));
    EXPECT_TRUE(deviceFile(device, "/tmp/ran-fw_setenv").has_value());
    for (const std::string fake : {"kbox", "crashreport", "sh"})
        EXPECT_FALSE(deviceFile(device, "/tmp/ran-" + fake).has_value()) << fake;
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}
