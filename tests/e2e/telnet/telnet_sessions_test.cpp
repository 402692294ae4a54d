// Telnet and API sessions through the device's telnet daemons: what each session sees
// and the IPv6 client address the shell records. (The session limit: tests/e2e/spine,
// and with real daemons the soak, scripts/soak.)
#include <gtest/gtest.h>

#include "DeviceSession.h"
#include "TelnetClient.h"

namespace vela::test::telnet {
namespace {

constexpr const char *kTelnetBanner = "Session type: telnet";

DeviceOptions telnetDevice() {
    DeviceOptions options;
    options.velaBinary = VELA_BINARY;
    options.command = {"sleep", "3600"};
    options.launcherArguments = {"--telnetd"};
    return options;
}

// Waits until the setting has the value; the shell writes it after the login.
bool settingBecomes(const DeviceSession &device, const char *name, const std::string &value) {
    return eventually([&] { return device.state().setting(name) == value; });
}

TEST(TelnetSessions, TelnetAndApiSessionsSideBySideSeeOnlyTheirOwnOutput) {
    DeviceSession device(telnetDevice());
    TelnetClient telnet(device.connectTcp(23));
    TelnetClient api(device.connectTcp(24));
    ASSERT_TRUE(telnet.waitFor(kTelnetBanner)) << telnet.text();
    ASSERT_TRUE(device.waitForZuzLine("E: whoami")) << "the api session starts with whoami";

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
}

// The IPv4 address: tests/e2e/login.
TEST(TelnetSessions, Ipv6ClientAddressIsRecordedAndClearedAtTheEnd) {
    DeviceSession device(telnetDevice());
    TelnetClient client(device.connectTcp6(23));
    ASSERT_TRUE(client.waitFor(kTelnetBanner)) << client.text();
    EXPECT_TRUE(settingBecomes(device, "telnet_client_23", "::1"));
    EXPECT_TRUE(settingBecomes(device, "telnet_client_23_success", "True"));
    ASSERT_TRUE(client.typeLine("exit"));
    EXPECT_TRUE(client.waitClosed());
    EXPECT_TRUE(settingBecomes(device, "telnet_client_23", ""));
}

}  // namespace
}  // namespace vela::test::telnet
