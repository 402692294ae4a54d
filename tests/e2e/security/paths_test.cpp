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
    options.command = {"sh", "-c",
                       "cd /tmp && for t in api log; do echo keep > $t; chmod 600 $t; done; "
                       "for n in $(seq 0 99); do ln -s /tmp/api apiasynclisteners/vela$n; "
                       "ln -s /tmp/log sysloglisteners/vela$n; done; exec " +
                           std::string(kDeviceVela) + " -t telnet"};
    DeviceSession device(options);
    ASSERT_TRUE(waitForLoop(device));
    const std::string leaf = "vela" + ttyOf(device).substr(9);
    // Both sockets work: zuz's output and a log line arrive.
    EXPECT_NE(vela::test::exchange(device, "echo through").find("through"), std::string::npos);
    auto logSocket = device.connectDatagram("/dev/log");
    ASSERT_EQ(::send(logSocket.get(), "<13>probe: logged", 17, 0), 17);
    EXPECT_TRUE(device.waitFor("probe: logged"));
    EXPECT_EQ(device
                  .runInDevice({"sh", "-c",
                                "cd /tmp && stat -c '%F %a' apiasynclisteners/" + leaf +
                                    " sysloglisteners/" + leaf + " api log && cat api log"})
                  .out,
              "socket 666\nsocket 666\nregular file 600\nregular file 600\nkeep\nkeep\n");
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SecurityPaths, EnvironmentRedirectsOnlyTheBootToolsWhichAreLookedUpOnPath) {
    // One fake for every tool: it leaves a mark and answers any setting as empty, so a
    // fake kbox would let the session in without its password.
    DeviceOptions options = shellWith({}, {{"sw", "secret"}}, VELA_BETARC_BINARY);
    options.command = {
        "sh", "-c",
        R"(mkdir /tmp/fake && cd /tmp/fake && printf '#!/bin/sh\ntouch /tmp/ran-${0##*/}\necho )"
        R"("config $2 0 "\n' > kbox && chmod 755 kbox && for t in crashreport fw_setenv )"
        R"(fw_printenv sh; do cp kbox $t; done; cd / && exec env PATH=/tmp/fake:$PATH )"
        "TMPDIR=/tmp/fake HOME=/tmp/fake " +
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
    EXPECT_EQ(device.runInDevice({"sh", "-c", "cd /tmp && ls ran-*"}).out,
              "ran-fw_printenv\nran-fw_setenv\n")
        << "neither kbox, crashreport nor sh from PATH";
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}
