// Start-up on the simulated device: the ready marker, the terminal, options and session
// types, waiting for the application and registration. (The telnet session limit: the
// soak, tests/e2e/faults/soak.cpp.)
#include <gtest/gtest.h>

#include <memory>

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
// settings), and forwards lines with its prefix. The port and host given are used. The
// application starts late: the shell waits for it (it retries every 5 seconds, so the
// sessions start together), visibly but on a serial port.
TEST(SpineStartup, SessionTypesRegisterShowTheBannerAndForward) {
    const char *const types[][3] = {
        {"telnet", "telnet", "C: "}, {"rs232", "api-serial", "E: "}, {"telnet24", "api", "E: "}};
    std::vector<std::unique_ptr<ShellSession>> devices;
    for (const auto &[value, stored, prefix] : types) {
        Settings settings = {{"securitybanner", "Authorized%use%only!"}};
        if (stored[3] == '-') settings.push_back({"sw", "secret"});
        DeviceOptions options = keptUp(shellWith(
            {"-t", value, "-p", "4121abc", "-h", std::string(127, 'h'), "-h", "localhost"},
            settings));
        options.launcherArguments = {"--zuz-late"};
        devices.push_back(std::make_unique<ShellSession>(options, ShellSession::kAtOnce));
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        const auto &[value, stored, prefix] = types[i];
        SCOPED_TRACE(value);
        ShellSession &device = *devices[i];
        const bool telnet = i == 0, serial = i == 1;
        EXPECT_TRUE(device.waitFor("\r\nAuthorized use only!\r\n\r\n\r\r\n", 8s));
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
        EXPECT_EQ(count(device.output(), "Waiting for application to start\r\r\n"),
                  serial ? 0u : 1u);
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
