// Device services that are missing, slow or broken: the configuration tool kbox, the
// listener directories. Each test names the outcome it expects. (A dead syslogd:
// application_faults_test.cpp; an import directory that cannot be written:
// tests/e2e/login.)
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

// A tool that cannot run or says nothing gives empty values: the session opens as on a
// device without a password (the device's own tool is part of its trusted base). An
// answer of the wrong form, or none within ten seconds (the tool is then stopped), is an
// access failure: status 1 and its record, before anything reaches zuz.
TEST(FaultsDevice, KboxThatIsMissingSilentMalformedOrSlow) {
    const std::string kbox = "/opt/halvern/bin/kbox", script = "printf '#!/bin/sh\\n%s' '";
    const std::pair<std::string, bool> cases[] = {
        {"rm " + kbox, true},
        {script + "exit 0' > " + kbox, true},
        {script + "echo kbox: out of order' > " + kbox, false},
        {script + "[ $2 = eol ] && echo config eol 0 True && exit; exec sleep 60' > " + kbox,
         false},
    };
    for (const auto &[setup, opens] : cases) {
        SCOPED_TRACE(setup);
        DeviceOptions options = keptUp(shellWith({"-t", "api", "--nobanner"}, {{"sw", "secret"}}));
        options.command[2] = "umount " + kbox + " && " + setup + " && chmod -f 755 " + kbox + "; " +
                             options.command[2];
        const auto start = std::chrono::steady_clock::now();
        DeviceSession device(options);
        EXPECT_TRUE(!opens || (waitForLoop(device) && device.type("\x04"))) << device.output();
        EXPECT_EQ(endStatus(device, opens, std::chrono::seconds(15)), opens ? 0 : 1);
        EXPECT_TRUE(opens || (device.zuzReceived().empty() &&
                              waitForRecord(device, ":0:Cannot get enableSecureProfile")));
        EXPECT_EQ(device.output().find("Password"), std::string::npos);
        if (setup.find("sleep") == std::string::npos) continue;
        EXPECT_GE(msSince(start), 9500);
        EXPECT_EQ(device.runInDevice({"pgrep", "-c", "-x", "sleep"}).out, "1\n")
            << "kbox was stopped; only sh's own sleep is left";
    }
}

// Without its API listener directory the session is refused with the reasons; without
// the syslog listener's only the live log is lost.
TEST(FaultsDevice, MissingListenerDirectories) {
    const std::string bindError = shown("setupSocket: bind() error: No such file or directory");
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
    options.launcherArguments = {"--no-api-listener-dir"};
    DeviceSession refused(options);
    EXPECT_TRUE(refused.waitFor(bindError));
    EXPECT_TRUE(refused.waitFor(shown("setupSocket: chmod() error: No such file or directory")));
    EXPECT_TRUE(refused.waitFor(shown("error: vela failed to setup async listener")));
    EXPECT_EQ(endStatus(refused, false), 255);
    EXPECT_TRUE(refused.zuzReceived().empty()) << "nothing registered, nothing to withdraw";

    options.launcherArguments = {"--no-syslog-listener-dir"};
    ShellSession logless(options, ShellSession::kReady);
    // The live log's thread reports it whenever it gets to it.
    EXPECT_TRUE(logless.waitFor(bindError));
    logless.type("version\r");
    EXPECT_TRUE(logless.waitFor("libxcom 0.0.1"));
    logless.type("\x04");
    EXPECT_EQ(endStatus(logless), 0);
}
