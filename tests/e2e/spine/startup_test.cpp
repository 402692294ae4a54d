// Start-up on the simulated device: the ready marker, the terminal, options and session
// types, waiting for the application, registration and the telnet session limit.
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

// The usage as the terminal shows it (CR LF from the shell, CR from ONLCR).
const std::string kUsage =
    "Halvern API/Debug shell usage: vela [options]\r\r\n"
    "  -h hostname/addr Set host name/address for XCOM (default: localhost)\r\r\n"
    "  -p port          Set port for XCOM (default: 4121)\r\r\n"
    "  -t type          Set session type - \"api\", \"telnet\"\r\r\n";

}  // namespace

TEST(SpineStartup, FailuresBeforeTheApplicationExitAtOnce) {
    for (const auto &args : {std::vector<std::string>{"-t", "telnet"}, {"--help"}}) {
        DeviceOptions options = shellWith(args);
        options.readyMarker = false;
        DeviceSession device(options);
        EXPECT_EQ(device.waitExit(), 1);
        EXPECT_EQ(device.output(), "Fatal: quit.\r\n");
        EXPECT_TRUE(device.zuzReceived().empty());
    }
    DeviceOptions options = shellWith({});
    options.command = {"sleep", "100"};  // the terminal only hosts the device
    DeviceSession device(options);
    auto result = device.runInDevice(
        {"sh", "-c", std::string(kDeviceVela) + " -t telnet </dev/null >/tmp/out"});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err.rfind("Can't get TTY name: ", 0), 0u) << result.err;
    EXPECT_TRUE(device.zuzReceived().empty());
}

// Each "-t" value registers as its stored type, shows the security banner, logs in
// without asking when no password is set, and forwards lines with its prefix.
TEST(SpineStartup, SessionTypesRegisterShowTheBannerAndForward) {
    const char *const types[][3] = {{"telnet", "telnet", "C: "},
                                    {"api", "api", "E: "},
                                    {"api-serial", "api-serial", "E: "},
                                    {"rs232", "api-serial", "E: "},
                                    {"telnet24", "api", "E: "}};
    for (const auto &[value, stored, prefix] : types) {
        SCOPED_TRACE(value);
        DeviceSession device(
            keptUp(shellWith({"-t", value}, {{"securitybanner", "Authorized%use%only!"}})));
        EXPECT_TRUE(device.waitFor("\r\nAuthorized use only!\r\n\r\n\r\r\n"));
        // The serial type writes no login settings: it reads once it asked "whoami".
        ASSERT_TRUE(std::string(stored) == "api-serial" ? device.waitForZuzLine("E: whoami")
                                                        : waitForLoop(device));
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
        EXPECT_EQ(count(device.output(), "Password:"), 0u);
    }
}

// The options themselves are unit-tested (tests/shell/startup_test.cpp): here, that an
// error ends the process with status 1 before anything else happens, that help ends it
// with 0, and that the port and host given are the ones used.
TEST(SpineStartup, OptionsDecideTheStartOrItsEnd) {
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"-t", "x"}, 1, "Invalid type \"x\" specified\r\r\nUsage:\r\r\n" + kUsage},
        {{"--foo", "--help", "-t", "x"}, 0, "Invalid argument \"--foo\"\r\r\n" + kUsage},
    };
    for (const auto &[args, status, output] : cases) {
        DeviceSession device(shellWith(args));
        EXPECT_EQ(device.waitExit(), status);
        EXPECT_EQ(device.output(), output);
        EXPECT_TRUE(device.zuzReceived().empty());
    }
    DeviceSession zero(shellWith({"-t", "telnet", "-p", "abc"}));  // port 0: nobody listens
    EXPECT_TRUE(zero.waitFor("Waiting for application to start\r\r\n"));
    EXPECT_TRUE(zero.zuzReceived().empty());
    DeviceSession digits(
        shellWith({"-p", "4121abc", "-h", std::string(127, 'h'), "-h", "localhost"}));
    EXPECT_TRUE(digits.waitFor("XCOM host:    localhost port: 4121\r\r\n"));
}

TEST(SpineStartup, ALateApplicationIsAwaitedOnceVisiblySerialPortsSilently) {
    // Both wait together: the shell retries every 5 seconds.
    DeviceOptions telnetOptions = shellWith({"-t", "telnet"}),
                  serialOptions = shellWith({"-t", "rs232"});
    telnetOptions.zuzLate = serialOptions.zuzLate = true;
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
    for (const auto &[type, action] :
         {std::pair{"telnet", "reply -3"}, {"api", "reply 3"}, {"telnet", "drop"}}) {
        SCOPED_TRACE(action);
        DeviceOptions options = keptUp(shellWith({"-t", type}));
        options.zuzRules = std::string("prefix \"R: \" => ") + action + "\n";
        DeviceSession device(options);
        EXPECT_EQ(endStatus(device, false), 255);
        EXPECT_EQ(device.output(),
                  std::string(action) == "drop"
                      ? shown("error: session is closed by peer") + "[status 255]\r\n"
                      : "[status 255]\r\n");
        EXPECT_EQ(zuzCount(device, "R: ", true), 1);
        EXPECT_EQ(device.zuzReceived().size(), 1u);
        if (std::string(type) == "api")
            EXPECT_TRUE(waitForRecord(device, "API:" + sessionName(device) + ":0:End of session"));
        else
            EXPECT_TRUE(velaRecords(device).empty());
    }
}

TEST(SpineRegistration, TenTelnetProcessesAreAllowedAnEleventhRefusesEveryType) {
    for (const auto &[processes, type] : {std::pair{10, "telnet"}, {11, "telnet"}, {11, "api"}}) {
        SCOPED_TRACE(std::to_string(processes) + " " + type);
        // The shell starts once that many processes named "telnetd" run beside it.
        DeviceOptions options = keptUp(shellWith({"-t", type}));
        options.command[2] = "until [ -e /tmp/go ]; do sleep 0.01; done; " + options.command[2];
        DeviceSession device(options);
        const std::string n = std::to_string(processes);
        ASSERT_EQ(device
                      .runInDevice({"bash", "-c",
                                    "for i in $(seq " + n +
                                        "); do exec -a telnetd sleep 100 >/dev/null 2>&1 & done; "
                                        "until [ \"$(cat /proc/[0-9]*/cmdline 2>/dev/null | tr "
                                        "'\\0' '\\n' | grep -cx telnetd)\" = " +
                                        n + " ]; do sleep 0.01; done; touch /tmp/go"})
                      .status,
                  0);
        if (processes == 10) {
            EXPECT_TRUE(waitForLoop(device));
            continue;
        }
        EXPECT_EQ(endStatus(device, false), 255);
        EXPECT_EQ(device.output(),
                  "Error: Terminating because too many concurrent telnet sessions have been "
                  "started.\r\n[status 255]\r\n");
        EXPECT_TRUE(device.zuzReceived().empty());
        if (std::string(type) == "api")
            EXPECT_TRUE(waitForRecord(device, ":0:vela error: Terminating /dev/pts/"));
        else
            EXPECT_TRUE(velaRecords(device).empty());
    }
}
