// Telnet and API sessions through the device's telnet daemons: what each session sees
// and the client address the shell records after the login and clears at the end. (The
// session limit: tests/e2e/spine, and with real daemons the soak, scripts/soak.)
#include <gtest/gtest.h>

#include "DeviceSession.h"
#include "TelnetClient.h"

namespace vela::test::telnet {
namespace {

constexpr const char *kTelnetBanner = "Session type: telnet";

TEST(TelnetSessions, SessionsSideBySideSeeOnlyTheirOwnOutputAndRecordTheirClient) {
    DeviceOptions options;
    options.velaBinary = VELA_BINARY;
    options.command = {"sleep", "3600"};
    options.launcherArguments = {"--telnetd"};
    DeviceSession device(options);
    auto setting = [&](const char *name, const std::string &value) {
        return eventually([&] { return device.state().setting(name) == value; });
    };
    TelnetClient telnet(device.connectTcp(23));
    TelnetClient api(device.connectTcp(24));
    ASSERT_TRUE(telnet.waitFor(kTelnetBanner)) << telnet.text();
    ASSERT_TRUE(device.waitForZuzLine("E: whoami")) << "the api session starts with whoami";
    EXPECT_TRUE(setting("telnet_client_23", "127.0.0.1"));
    EXPECT_TRUE(setting("telnet_client_24", "127.0.0.1"));

    ASSERT_TRUE(telnet.typeLine("echo from-port-23"));
    ASSERT_TRUE(api.typeLine("echo from-port-24"));
    // At the start of a line: the application's output, not the echo of the typed line.
    EXPECT_TRUE(telnet.waitFor("\nfrom-port-23\r\n")) << telnet.text();
    EXPECT_TRUE(api.waitFor("\nfrom-port-24")) << api.text();
    EXPECT_TRUE(device.waitForZuzLine("C: echo from-port-23"));
    EXPECT_TRUE(device.waitForZuzLine("E: echo from-port-24"));
    ASSERT_TRUE(telnet.typeLine("echo second-23"));
    EXPECT_TRUE(telnet.waitFor("\nsecond-23\r\n"));
    // The telnet session's live log shows the api session's mirrored lines, but the
    // application's output for the api session never reaches it as output.
    EXPECT_EQ(telnet.text().find("\nfrom-port-24\r"), std::string::npos) << telnet.text();
    EXPECT_EQ(api.text().find("from-port-23"), std::string::npos) << api.text();
    EXPECT_EQ(api.text().find(kTelnetBanner), std::string::npos) << api.text();

    ASSERT_TRUE(telnet.typeLine("exit"));
    EXPECT_TRUE(telnet.waitClosed());
    EXPECT_TRUE(setting("telnet_client_23", ""));
    TelnetClient ipv6(device.connectTcp6(23));
    ASSERT_TRUE(ipv6.waitFor(kTelnetBanner)) << ipv6.text();
    EXPECT_TRUE(setting("telnet_client_23", "::1"));
    EXPECT_TRUE(setting("telnet_client_23_success", "True"));
    ASSERT_TRUE(ipv6.typeLine("exit"));
    EXPECT_TRUE(ipv6.waitClosed());
    EXPECT_TRUE(setting("telnet_client_23", ""));
}

}  // namespace
}  // namespace vela::test::telnet
