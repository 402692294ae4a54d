// The telnet client's address, found in the kernel's connection table, recorded in the
// setting "telnet_client_23" after the login and cleared at the end of the session.
#include <gtest/gtest.h>

#include "login_support.h"

using namespace vela::test;
using namespace vela::test::login;

namespace {

const std::string kSet23 = "E: execwithoutecho systemsetting telnet_client_23 ";
const std::string kSuccess23 = "E: execwithoutecho systemsetting telnet_client_23_success True";
constexpr const char *kPeer = "/opt/halvern/bin/tcp23_peer";
constexpr int kFamilyUnavailable = 77;

// A telnet session started once a client of the given family ("4" or "6") holds a
// connection to port 23 of the device.
DeviceOptions sessionWithClient(const char *family) {
    DeviceOptions options = shellOn("telnet", {{"telnet_client_23", "stale"}});
    options.installs.emplace_back(TCP23_PEER, kPeer);
    options.command = {
        "sh", "-c",
        std::string(kPeer) + " " + family + " || exit $?; exec /opt/halvern/bin/vela -t telnet"};
    return keepZuzUntilUnregistered(options);
}

// Runs a session with a client of family and checks that address is recorded and then
// cleared.
void expectAddressRecorded(const char *family, const std::string &address) {
    DeviceSession device(sessionWithClient(family));
    if (!device.waitFor(shown("Halvern Command Shell"))) {
        auto status = device.waitExit(1s);
        if (status == kFamilyUnavailable) GTEST_SKIP() << "no IPv" << family << " loopback";
        FAIL() << "no session (status " << status.value_or(-1) << "): " << device.output();
    }
    ASSERT_TRUE(device.waitForZuzLine(kSuccess23));
    EXPECT_EQ(receivedCount(device, kSet23 + address), 1);
    EXPECT_EQ(device.state().setting("telnet_client_23"), address);
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
    auto received = device.zuzReceived();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[received.size() - 2], kSet23);
    EXPECT_EQ(received.back(), "U");
    EXPECT_EQ(device.state().setting("telnet_client_23"), "");
}

TEST(LoginClientAddress, IsEmptyWithoutAConnectionOnPort23) {
    DeviceSession device(shellOn("telnet", {{"telnet_client_23", "stale"}}));
    ASSERT_TRUE(device.waitForZuzLine(kSuccess23));
    EXPECT_EQ(receivedCount(device, kSet23), 1);
    EXPECT_EQ(device.state().setting("telnet_client_23"), "");
}

TEST(LoginClientAddress, IPv4ClientIsRecordedInDottedForm) {
    expectAddressRecorded("4", "127.0.0.1");
}

TEST(LoginClientAddress, IPv6ClientIsRecordedInIPv6Form) {
    expectAddressRecorded("6", "::1");
}

}  // namespace
