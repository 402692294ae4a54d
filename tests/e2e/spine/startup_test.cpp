// Start-up on the simulated device: the ready marker, the terminal, options and session
// types, waiting for the application and registration. (The telnet session limit: the
// soak, tests/e2e/faults/soak.cpp.)
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

// Each "-t" value registers as its stored type, shows the security banner, logs in
// without asking when no password is set (a serial session never asks, nor writes login
// settings), and forwards lines with its prefix. The port and host given are used.
TEST(SpineStartup, SessionTypesRegisterShowTheBannerAndForward) {
    const char *const types[][3] = {
        {"telnet", "telnet", "C: "}, {"rs232", "api-serial", "E: "}, {"telnet24", "api", "E: "}};
    for (const auto &[value, stored, prefix] : types) {
        SCOPED_TRACE(value);
        const bool telnet = value == std::string("telnet"), serial = stored[3] == '-';
        Settings settings = {{"securitybanner", "Authorized%use%only!"}};
        if (serial) settings.push_back({"sw", "secret"});
        ShellSession device(keptUp(shellWith({"-t", value, "-p", "4121abc", "-h",
                                              std::string(127, 'h'), "-h", "localhost"},
                                             settings)),
                            ShellSession::kAtOnce);
        EXPECT_TRUE(device.waitFor("\r\nAuthorized use only!\r\n\r\n\r\r\n"));
        ASSERT_TRUE(serial ? device.waitForZuzLine("E: whoami") : waitForLoop(device));
        device.type("version\r");
        ASSERT_TRUE(device.waitFor("libxcom 0.0.1"));
        device.type("\x04");
        EXPECT_EQ(endStatus(device), 0);
        const std::string tty = ttyOf(device);
        EXPECT_EQ(device.zuzReceived().front(), std::string("R: ") + stored +
                                                    " /tmp/apiasynclisteners/vela" + tty.substr(9) +
                                                    " " + tty);
        EXPECT_EQ(zuzCount(device, prefix + std::string("version")), 1);
        EXPECT_EQ(zuzCount(device, "E: _control", true), 0);
        EXPECT_EQ(zuzCount(device, "E: execwithoutecho", true), serial ? 0 : 3);
        EXPECT_EQ(count(device.output(), "Password:"), 0u);
        EXPECT_EQ(count(device.output(), "XCOM host:    localhost port: 4121\r\r\n"),
                  telnet ? 1u : 0u);
    }
}

TEST(SpineStartup, ALateApplicationIsAwaitedOnceVisiblySerialPortsSilently) {
    // Both wait together: the shell retries every 5 seconds.
    DeviceOptions telnetOptions = shellWith({"-t", "telnet"}),
                  serialOptions = shellWith({"-t", "rs232"});
    telnetOptions.launcherArguments = serialOptions.launcherArguments = {"--zuz-late"};
    DeviceSession telnet(telnetOptions), serial(serialOptions);
    ASSERT_TRUE(telnet.waitForZuzLine(kLoopReady, 8s));
    ASSERT_TRUE(serial.waitForZuzLine("E: whoami", 8s));
    for (DeviceSession *device : {&telnet, &serial}) {
        device->type("version\r");
        EXPECT_TRUE(device->waitFor("libxcom 0.0.1"));
    }
    EXPECT_EQ(count(telnet.output(), "Waiting for application to start\r\r\n"), 1u);
    EXPECT_EQ(count(serial.output(), "Waiting"), 0u);
}

// Any code but 0 refuses; a negative one is not reported as an unknown command. An
// application that hangs up refuses too.
TEST(SpineRegistration, ARefusedRegistrationEndsTheSessionWithoutUnregistering) {
    for (const auto &[type, action] : {std::pair{"api", "reply -3"}, {"telnet", "drop"}}) {
        SCOPED_TRACE(action);
        DeviceOptions options = keptUp(shellWith({"-t", type}));
        options.zuzRules = std::string("prefix \"R: \" => ") + action + "\n";
        DeviceSession device(options);
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
