// Telnet and API sessions through the device's telnet daemons: what each session
// sees, the client address the shell records, the session limit, and the relay that
// brings a host's telnet client into the device.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "DeviceSession.h"
#include "Forwarder.h"
#include "TelnetClient.h"
#include "TelnetDaemons.h"

namespace vela::test::telnet {
namespace {

constexpr const char *kTelnetBanner = "Session type: telnet";
constexpr const char *kTooMany =
    "Error: Terminating because too many concurrent telnet sessions have been started.";

DeviceOptions telnetDevice(std::vector<std::string> moreLauncherArguments = {}) {
    DeviceOptions options;
    options.velaBinary = VELA_BINARY;
    options.command = {"sleep", "3600"};
    options.launcherArguments = {"--telnetd"};
    for (auto &argument : moreLauncherArguments)
        options.launcherArguments.push_back(std::move(argument));
    return options;
}

std::string setting(const DeviceSession &device, const char *name) {
    return device.state().setting(name).value_or("<unset>");
}

// Waits until the setting has the value; the shell writes it after the login.
::testing::AssertionResult settingBecomes(const DeviceSession &device, const char *name,
                                          const std::string &value) {
    if (eventually([&] { return setting(device, name) == value; }))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << name << " is \"" << setting(device, name) << "\", not \"" << value << "\"";
}

// How many telnet sessions have recorded their login, the last step of their start.
int loginsRecorded(const DeviceSession &device) {
    auto lines = device.zuzReceived();
    return static_cast<int>(
        std::count(lines.begin(), lines.end(),
                   "E: execwithoutecho systemsetting telnet_client_23_success True"));
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

TEST(TelnetSessions, ClientAddressIsRecordedForIpv4AndIpv6AndClearedAtTheEnd) {
    DeviceSession device(telnetDevice());
    struct Case {
        const char *address;
        sim::UniqueFd (DeviceSession::*connect)(int);
    };
    for (const Case &c : {Case{"127.0.0.1", &DeviceSession::connectTcp},
                          Case{"::1", &DeviceSession::connectTcp6}}) {
        SCOPED_TRACE(c.address);
        TelnetClient client((device.*c.connect)(23));
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.waitFor(kTelnetBanner)) << client.text();
        EXPECT_TRUE(settingBecomes(device, "telnet_client_23", c.address));
        EXPECT_TRUE(settingBecomes(device, "telnet_client_23_success", "True"));
        ASSERT_TRUE(client.typeLine("exit"));
        EXPECT_TRUE(client.waitClosed());
        EXPECT_TRUE(settingBecomes(device, "telnet_client_23", ""));
    }
}

TEST(TelnetSessions, TenConcurrentSessionsWorkAndTheEleventhIsRefused) {
    DeviceSession device(telnetDevice());
    // One after the other: while a shell starts, its children briefly carry its
    // command line too, and would count for a shell starting at the same moment.
    std::vector<std::unique_ptr<TelnetClient>> sessions;
    for (int i = 0; i < 10; ++i) {
        sessions.push_back(std::make_unique<TelnetClient>(device.connectTcp(23)));
        ASSERT_TRUE(sessions.back()->waitFor(kTelnetBanner))
            << i << ": " << sessions.back()->text();
        ASSERT_TRUE(eventually([&] { return loginsRecorded(device) == i + 1; }));
    }

    // An api session counts as well, and is refused just the same.
    for (int port : {23, 24}) {
        TelnetClient refused(device.connectTcp(port));
        EXPECT_TRUE(refused.waitFor(kTooMany)) << port << ": " << refused.text();
        EXPECT_TRUE(refused.waitClosed()) << port;
    }
    for (auto &session : sessions) {
        ASSERT_TRUE(session->typeLine("echo still-here"));
        EXPECT_TRUE(session->waitFor("\nstill-here\r\n")) << session->text();
    }

    // A session that ends makes room for the next one.
    ASSERT_TRUE(sessions.back()->typeLine("exit"));
    ASSERT_TRUE(sessions.back()->waitClosed());
    TelnetClient next(device.connectTcp(23));
    EXPECT_TRUE(next.waitFor(kTelnetBanner)) << next.text();
}

// A free port of the host's loopback (free a moment ago, which is enough here).
int freeHostPort() {
    sim::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port);
}

sim::UniqueFd connectHost(int port) {
    sim::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) return {};
    return fd;
}

TEST(TelnetSessions, HostRelayCarriesSeveralClientsIntoTheDevice) {
    int telnetPort = freeHostPort(), apiPort = freeHostPort();
    ASSERT_GT(telnetPort, 0);
    DeviceSession device(telnetDevice({"--forward", std::to_string(telnetPort) + ":23", "--forward",
                                       std::to_string(apiPort) + ":24"}));
    TelnetClient first(connectHost(telnetPort));
    TelnetClient second(connectHost(telnetPort));
    TelnetClient api(connectHost(apiPort));
    ASSERT_TRUE(first.waitFor(kTelnetBanner)) << first.text();
    ASSERT_TRUE(second.waitFor(kTelnetBanner)) << second.text();
    ASSERT_TRUE(second.typeLine("echo through-the-relay"));
    EXPECT_TRUE(second.waitFor("\nthrough-the-relay\r\n")) << second.text();
    ASSERT_TRUE(api.typeLine("echo api-through-the-relay"));
    EXPECT_TRUE(api.waitFor("\napi-through-the-relay")) << api.text();
    ASSERT_TRUE(first.typeLine("exit"));
    EXPECT_TRUE(first.waitClosed()) << "the device's end of a session reaches the host client";
}

TEST(TelnetSessions, PortTextsAreCheckedWhereTheyAreRead) {
    sim::telnet::ForwardRule rule;
    EXPECT_TRUE(sim::telnet::parseForwardRule("2323:23", rule));
    EXPECT_EQ(rule.hostPort, 2323);
    EXPECT_EQ(rule.devicePort, 23);
    for (const char *bad : {"", "23", ":23", "2323:", "0:23", "2323:65536", "23:24:25", "a:23"})
        EXPECT_FALSE(sim::telnet::parseForwardRule(bad, rule)) << bad;

    const char *listen6 =
        "   0: 00000000000000000000000000000000:0017 00000000000000000000000000000000:0000 0A "
        "00000000:00000000 00:00000000 00000000     0        0 1 1 0 100 0 0 10 0";
    const char *established =
        "   1: 0100007F:0017 0100007F:C350 01 00000000:00000000 00:00000000 00000000 0 0 2";
    EXPECT_EQ(sim::telnet::listeningPortOf(listen6), 23);
    EXPECT_EQ(sim::telnet::listeningPortOf(established), -1);
    EXPECT_EQ(sim::telnet::listeningPortOf("   2: 0100007F:XYZ 0:0 0A"), -1);
    EXPECT_EQ(sim::telnet::listeningPortOf(""), -1);
}

}  // namespace
}  // namespace vela::test::telnet
