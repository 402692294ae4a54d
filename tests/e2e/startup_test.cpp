// Start-up on the simulated device: the ready marker, the terminal, options, a refused
// registration. (Session types, the telnet session limit and the client addresses: the
// soak, tests/e2e/soak.cpp.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

// Without the ready marker the shell quits before it even reads its options; a bad
// option, help, or an output that is no terminal end it before the application hears of
// it. (The options and their messages: tests/shell/startup_test.cpp.)
TEST(SpineStartup, FailuresBeforeTheApplicationExitAtOnce) {
    const std::string vela = kDeviceVela, usage = "Halvern API/Debug shell usage: vela";
    const std::tuple<std::vector<std::string>, bool, int, std::string> cases[] = {
        {{vela, "--help"}, false, 1, "Fatal: quit.\r\n"},
        {{vela, "-t", "x"}, true, 1, "Invalid type \"x\" specified\r\r\nUsage:\r\r\n" + usage},
        {{vela, "--foo", "--help", "-t", "x"}, true, 0, "Invalid argument \"--foo\"\r\r\n" + usage},
        {{"sh", "-c", vela + " -t telnet >/dev/null"}, true, 255, "Can't get TTY name: "},
    };
    for (const auto &[command, ready, status, start] : cases) {
        DeviceOptions options = shellWith({});
        options.command = command;
        if (!ready) options.launcherArguments = {"--no-ready"};
        DeviceSession device(options);
        EXPECT_EQ(device.waitExit(), status);
        EXPECT_TRUE(device.output().starts_with(start)) << device.output();
        EXPECT_TRUE(device.zuzReceived().empty());
    }
}

// Any code but 0 refuses; a negative one is not reported as an unknown command. An
// application that hangs up refuses too.
TEST(SpineRegistration, ARefusedRegistrationEndsTheSessionWithoutUnregistering) {
    for (const auto &[type, action] : {std::pair{"api", "reply -3"}, {"telnet", "drop"}}) {
        SCOPED_TRACE(action);
        DeviceSession device(
            keptUp(shellWith({"-t", type}), std::string("prefix \"R: \" => ") + action + "\n"));
        EXPECT_EQ(endStatus(device, false), 255);
        EXPECT_EQ(device.output(),
                  std::string(type) == "api"
                      ? "[status 255]\r\n"
                      : shown("error: session is closed by peer") + "[status 255]\r\n");
        EXPECT_EQ(zuzCount(device, "R: ", true), 1);
        EXPECT_EQ(device.zuzReceived().size(), 1u);
        if (std::string(type) == "api")
            EXPECT_TRUE(waitForRecord(device, "API:" + sessionName(device) + ":0:End of session"));
        else
            EXPECT_TRUE(velaRecords(device).empty());
    }
}
