// The telnet client's address, found in the kernel's connection table, recorded in the
// setting "telnet_client_23" after the login and cleared at the end of the session.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

TEST(LoginClientAddress, IsRecordedAfterTheLoginAndClearedAtTheEnd) {
    for (const std::string &address : {std::string("127.0.0.1"), std::string()}) {
        SCOPED_TRACE("client " + address);
        DeviceOptions options =
            keptUp(shellWith({"-t", "telnet"}, {{"telnet_client_23", "stale"}}));
        // A client holds a connection to port 23 of every address, as to the telnet daemon.
        if (!address.empty())
            options.command[2] =
                "sleep 30 | busybox nc -l -p 23 >/dev/null & "
                "until ss -ltnH 'sport = :23' | grep -q .; do sleep 0.01; done; "
                "sleep 30 | busybox nc 127.0.0.1 23 >/dev/null & "
                "until ss -tnH state established 'sport = :23' | grep -q .; do sleep 0.01; done; " +
                options.command[2];
        DeviceSession device(options);
        ASSERT_TRUE(waitForLoop(device)) << device.output();
        EXPECT_EQ(zuzCount(device, kClear23 + address), 1);
        EXPECT_EQ(device.state().setting("telnet_client_23"), address);
        device.type("\x04");
        EXPECT_EQ(endStatus(device), 0);
        EXPECT_EQ(zuzFrom(device, kClear23), (std::vector<std::string>{kClear23, "U"}));
        EXPECT_EQ(device.state().setting("telnet_client_23"), "");
    }
}
