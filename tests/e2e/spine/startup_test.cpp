// Start-up of the shell on the simulated device: the ready marker, the terminal name,
// the options and session types, waiting for the application, registration and the
// limit on concurrent telnet sessions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "DeviceSession.h"
#include "spine_helpers.h"

using namespace vela::test;
using namespace vela::test::spine;

TEST(SpineStartup, WithoutTheReadyMarkerEveryStartFailsEvenHelp) {
    for (const char *argument : {"-t", "--help"}) {
        std::vector<std::string> arguments = {argument};
        if (arguments[0] == "-t") arguments.push_back("telnet");
        DeviceOptions options = shellWith(arguments);
        options.readyMarker = false;
        DeviceSession device(options);
        EXPECT_EQ(device.waitExit(), 1) << argument;
        EXPECT_EQ(device.output(), "Fatal: quit.\r\n") << argument;
        EXPECT_TRUE(device.zuzReceived().empty());
    }
}

TEST(SpineStartup, WithoutATerminalOnOutputTheShellRefusesToStart) {
    DeviceOptions options = shellWith({});
    options.command = {"sleep", "100"};  // the terminal only hosts the device
    DeviceSession device(options);
    auto result = device.runInDevice(
        {"sh", "-c", std::string(kDeviceVela) + " -t telnet </dev/null >/tmp/out"});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err.rfind("Can't get TTY name: ", 0), 0u) << result.err;
    EXPECT_TRUE(device.zuzReceived().empty());
}

// Each "-t" value registers as its stored type and forwards lines with its prefix.
struct TypeRow {
    const char *value;
    const char *stored;
    const char *prefix;
};

class SpineSessionTypes : public ::testing::TestWithParam<TypeRow> {};

TEST_P(SpineSessionTypes, RegisterAsTheStoredTypeAndForwardWithItsPrefix) {
    const TypeRow &row = GetParam();
    DeviceSession device(shellKeptUp({"-t", row.value}));
    ASSERT_TRUE(eventually([&] { return !ptsNumber(device).empty(); }));
    std::string n = ptsNumber(device);
    bool telnet = std::string(row.stored) == "telnet";
    // The shell reads input once the login settings are written, or once it asked
    // "whoami" (the serial type writes no settings).
    ASSERT_TRUE(device.waitForZuzLine(
        telnet ? "E: execwithoutecho systemsetting telnet_client_23_success True" : "E: whoami"));
    device.type("version\r");
    ASSERT_TRUE(device.waitFor("libxcom 0.0.1"));
    device.type("\x04");
    EXPECT_EQ(shellStatus(device), 0);
    EXPECT_TRUE(device.waitForZuzLine("U"));

    auto received = device.zuzReceived();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front(), std::string("R: ") + row.stored + " /tmp/apiasynclisteners/vela" +
                                    n + " /dev/pts/" + n);
    EXPECT_NE(std::find(received.begin(), received.end(), std::string(row.prefix) + "version"),
              received.end());
    EXPECT_EQ(received.back(), "U");
}

INSTANTIATE_TEST_SUITE_P(ValidTypes, SpineSessionTypes,
                         ::testing::Values(TypeRow{"telnet", "telnet", "C: "},
                                           TypeRow{"api", "api", "E: "},
                                           TypeRow{"api-serial", "api-serial", "E: "},
                                           TypeRow{"rs232", "api-serial", "E: "},
                                           TypeRow{"telnet24", "api", "E: "}),
                         [](const auto &info) {
                             std::string name = info.param.value;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(SpineStartup, OptionErrorsAreReportedThenTheUsageOnce) {
    struct Case {
        std::vector<std::string> arguments;
        std::string messages;
    };
    const Case cases[] = {
        {{"-t", "x"}, "Invalid type \"x\" specified\r\r\n"},
        {{"-t", "Telnet"}, "Invalid type \"Telnet\" specified\r\r\n"},
        {{"--foo", "-x"}, "Invalid argument \"--foo\"\r\r\nInvalid argument \"-x\"\r\r\n"},
        {{"-t", "api", "-h"}, "Missing value for option \"-h\"\r\r\n"},
        {{"-p"}, "Missing value for option \"-p\"\r\r\n"},
        {{"-h", "localhost", "-t"}, "Missing value for option \"-t\"\r\r\n"},
        {{"-h", std::string(128, 'h')}, "Host name too long (at most 127 characters)\r\r\n"},
        // Outside text is never a format.
        {{"%n%s%x", "-t", "%n%s%x"},
         "Invalid argument \"%n%s%x\"\r\r\nInvalid type \"%n%s%x\" specified\r\r\n"},
    };
    for (const auto &c : cases) {
        DeviceSession device(shellWith(c.arguments));
        EXPECT_EQ(device.waitExit(), 1) << c.messages;
        EXPECT_EQ(device.output(), c.messages + "Usage:\r\r\n" + kUsageText);
        EXPECT_TRUE(device.zuzReceived().empty());
    }
}

TEST(SpineStartup, HelpPrintsTheUsageAndEndsAtOnceEvenAfterAnError) {
    DeviceSession help(shellWith({"--help", "--foo"}));
    EXPECT_EQ(help.waitExit(), 0);
    EXPECT_EQ(help.output(), kUsageText);

    DeviceSession afterError(shellWith({"--foo", "--help", "-t", "x"}));
    EXPECT_EQ(afterError.waitExit(), 0);
    EXPECT_EQ(afterError.output(), "Invalid argument \"--foo\"\r\r\n" + kUsageText);
}

TEST(SpineStartup, PortIsReadFromItsLeadingDigits) {
    // Not a number: port 0, where nothing listens.
    DeviceSession zero(shellWith({"-t", "telnet", "-p", "abc"}));
    EXPECT_TRUE(zero.waitFor("Waiting for application to start\r\r\n"));
    EXPECT_TRUE(zero.running());
    EXPECT_TRUE(zero.zuzReceived().empty());

    DeviceSession digits(
        shellWith({"-p", "4121abc", "-h", std::string(127, 'h'), "-h", "localhost"}));
    EXPECT_TRUE(digits.waitFor("XCOM host:    localhost port: 4121\r\r\n"));
}

TEST(SpineStartup, ALateApplicationIsAwaitedOnceVisiblySerialPortsSilently) {
    // Both devices wait together: the shell retries every 5 seconds.
    DeviceOptions telnetOptions = shellWith({"-t", "telnet"});
    telnetOptions.zuzStartDelayMs = 300;
    DeviceOptions serialOptions = shellWith({"-t", "rs232"});
    serialOptions.zuzStartDelayMs = 300;
    DeviceSession telnet(telnetOptions);
    DeviceSession serial(serialOptions);

    ASSERT_TRUE(telnet.waitFor("Waiting for application to start\r\r\n"));
    ASSERT_TRUE(telnet.waitForZuzLine(
        "E: execwithoutecho systemsetting telnet_client_23_success True", 8s));
    telnet.type("version\r");
    EXPECT_TRUE(telnet.waitFor("libxcom 0.0.1"));
    EXPECT_EQ(telnet.output().find("Waiting for application to start"),
              telnet.output().rfind("Waiting for application to start"));

    ASSERT_TRUE(serial.waitForZuzLine("E: whoami", 8s));
    serial.type("version\r");
    EXPECT_TRUE(serial.waitFor("libxcom 0.0.1"));
    EXPECT_EQ(serial.output().find("Waiting"), std::string::npos);
}

TEST(SpineRegistration, ARefusedRegistrationEndsTheSessionWithoutUnregistering) {
    // Any code but 0 refuses; a negative one is not reported as an unknown command.
    for (const auto &[type, code] : {std::pair{"telnet", "-3"}, std::pair{"api", "3"}}) {
        DeviceOptions options = shellKeptUp({"-t", type});
        options.zuzRules = std::string("prefix \"R: \" => reply ") + code + "\n";
        DeviceSession device(options);
        EXPECT_EQ(shellStatus(device), 255) << type;
        EXPECT_EQ(device.output(), "[status 255]\r\n");
        auto received = device.zuzReceived();
        ASSERT_EQ(received.size(), 1u) << type << ::testing::PrintToString(received);
        EXPECT_EQ(received[0].rfind(std::string("R: ") + type + " ", 0), 0u);
        if (std::string(type) == "api")
            EXPECT_TRUE(
                waitForVelaRecord(device, "API:telnet" + ptsNumber(device) + ":0:End of session"));
        else
            EXPECT_TRUE(velaRecords(device).empty());
    }
}

TEST(SpineRegistration, AnApplicationThatHangsUpOnTheRegistrationEndsTheSession) {
    DeviceOptions options = shellWith({"-t", "telnet"});
    options.zuzRules = "prefix \"R: \" => drop\n";
    DeviceSession device(options);
    EXPECT_EQ(device.waitExit(), 255);
    EXPECT_EQ(device.output(), "error: session is closed by peer\r\r\n");
}

namespace {

// A device whose shell starts once count processes named "telnetd" run beside it.
struct CrowdedDevice {
    explicit CrowdedDevice(int count, const char *type)
        : device([&] {
              DeviceOptions options;
              options.velaBinary = VELA_BINARY;
              options.command = {"sh", "-c",
                                 "while [ ! -e /tmp/go ]; do sleep 0.01; done; " +
                                     std::string(kDeviceVela) + " -t " + type +
                                     "; echo \"[status $?]\"; exec sleep 20"};
              return options;
          }()) {
        std::string n = std::to_string(count);
        auto result = device.runInDevice(
            {"bash", "-c",
             "for i in $(seq " + n + "); do exec -a telnetd sleep 100 >/dev/null 2>&1 & done; " +
                 // Every one must have its new name before the shell counts.
                 "until [ \"$(cat /proc/[0-9]*/cmdline 2>/dev/null | tr '\\0' '\\n' | "
                 "grep -cx telnetd)\" = " +
                 n + " ]; do sleep 0.01; done; touch /tmp/go"});
        EXPECT_EQ(result.status, 0) << result.err;
    }
    DeviceSession device;
};

}  // namespace

TEST(SpineRegistration, TenTelnetProcessesAreAllowed) {
    CrowdedDevice crowded(10, "telnet");
    EXPECT_TRUE(crowded.device.waitFor("Session type: telnet"));
    EXPECT_FALSE(ptsNumber(crowded.device).empty());
}

TEST(SpineRegistration, AnEleventhTelnetProcessRefusesEverySessionType) {
    for (const char *type : {"telnet", "api"}) {
        CrowdedDevice crowded(11, type);
        DeviceSession &device = crowded.device;
        EXPECT_EQ(shellStatus(device), 255) << type;
        EXPECT_EQ(device.output(),
                  "Error: Terminating because too many concurrent telnet sessions have been "
                  "started.\r\n[status 255]\r\n");
        EXPECT_TRUE(device.zuzReceived().empty());
        if (std::string(type) == "telnet") continue;
        EXPECT_TRUE(eventually([&] {
            for (const auto &record : velaRecords(device)) {
                if (record.find(":0:vela error: Terminating /dev/pts/") != std::string::npos &&
                    record.find(" because too many concurrent telnet sessions have been "
                                "started.") != std::string::npos)
                    return true;
            }
            return false;
        }));
    }
}
