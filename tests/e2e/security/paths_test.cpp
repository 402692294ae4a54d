// Paths that nobody but the device decides: links planted where the shell creates its
// listener sockets are replaced, never followed. (The environment: tests/e2e/commands.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

TEST(SecurityPaths, LinksPlantedAtTheListenerSocketsAreReplacedNotFollowed) {
    DeviceOptions options = shellWith({});
    options.command = {"sh", "-c",
                       "cd /tmp && for t in api log; do echo keep > $t; chmod 600 $t; done; "
                       "for n in $(seq 0 99); do ln -s /tmp/api apiasynclisteners/vela$n; "
                       "ln -s /tmp/log sysloglisteners/vela$n; done; exec " +
                           std::string(kDeviceVela) + " -t telnet"};
    ShellSession device(options, ShellSession::kReady);
    const std::string leaf = "vela" + ttyOf(device).substr(9);
    // Both sockets work: zuz's output and a log line arrive.
    device.type("echo through\r");
    EXPECT_TRUE(device.waitFor("\nthrough\r\n"));
    device.log("<13>probe: logged");
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
