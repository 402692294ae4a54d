// The system commands end to end: the boot environment tools and crash reporting in
// the product and in a BetaRC build. Their argument checks are unit-tested
// (tests/shell/commands_test.cpp).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kNotFound = shown("error: command not found");
const std::string kUsage = shown("usage: crashreport enable|disable");
using Runs = std::vector<std::vector<std::string>>;

// Runs of the named tool, newest last.
Runs runsOf(ShellSession &shell, const std::string &tool) {
    Runs runs;
    for (auto &argv : shell.device().state().toolInvocations()) {
        if (!argv.empty() && argv[0].substr(argv[0].rfind('/') + 1) == tool) runs.push_back(argv);
    }
    return runs;
}

// A shell script on the host standing in for the device's tool at devicePath.
struct ToolScript {
    ToolScript(const std::string &body, const std::string &devicePath)
        : path(testing::TempDir() + "tool-" + std::to_string(::getpid()) + "-" +
               devicePath.substr(devicePath.rfind('/') + 1)),
          install{path, devicePath} {
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
    }
    ~ToolScript() { ::unlink(path.c_str()); }
    std::string path;
    std::pair<std::string, std::string> install;  // for DeviceOptions::installs
};

}  // namespace

// The release build: setenv hands its words over verbatim (shell metacharacters and
// format specifiers are only text), printenv lists the environment, and there is no
// crash reporting or shell.
TEST(CommandsSystem, ReleaseBuildBootEnvironmentAndNoCrashReporting) {
    ShellSession shell;
    const std::string name128(128, 'n'), value372(372, 'v');
    const std::vector<std::string> values = {
        "a;touch /tmp/p1",         "$(touch /tmp/p2)",   "`touch /tmp/p3`", "'q' \"dq\"",
        "x|touch /tmp/p4>/tmp/p5", "&& touch /tmp/p6 &", "%s%n\x1b",
    };
    Runs expected;
    // Quoted on the line so that each is one argument; \" is the tokenizer's quote.
    for (size_t i = 0; i < values.size(); ++i) {
        std::string quoted;
        for (char c : values[i])
            quoted += c == '"' ? std::string("\\\"") : c == '\x1b' ? "\\x1b" : std::string(1, c);
        shell.runThenSync("setenv m" + std::to_string(i) + " \"" + quoted + "\"");
        expected.push_back({"fw_setenv", "m" + std::to_string(i), values[i]});
    }
    shell.runThenSync("setenv raw;touch${IFS}/tmp/p7 $(id)");
    shell.runThenSync("setenv " + name128 + " " + value372);
    shell.runThenSync("setenv bootdelay");  // a name alone deletes the variable
    expected.insert(expected.end(), {{"fw_setenv", "raw;touch${IFS}/tmp/p7", "$(id)"},
                                     {"fw_setenv", name128, value372},
                                     {"fw_setenv", "bootdelay"}});
    EXPECT_EQ(runsOf(shell, "fw_setenv"), expected);
    EXPECT_EQ(shell.device().state().bootEnv()["m3"], "'q' \"dq\"");
    EXPECT_EQ(shell.device().runInDevice({"sh", "-c", "ls /tmp | grep '^p[0-9]'"}).out, "")
        << "nothing was run by a command interpreter";
    const std::string listed = shell.run("printenv ignored words", value372 + "\r\n");
    EXPECT_EQ(listed.rfind("baudrate=115200\r\nbootcmd=run flash_boot\r\n", 0), 0u) << listed;
    EXPECT_NE(listed.find(name128 + "=" + value372 + "\r\n"), std::string::npos);
    EXPECT_EQ(runsOf(shell, "fw_printenv"), (Runs{{"fw_printenv"}})) << "no arguments passed on";
    for (const char *line : {"crashreport enable", "crashreport test", "shell -c id"})
        EXPECT_EQ(shell.run(line, kNotFound), kNotFound) << line;
    EXPECT_TRUE(runsOf(shell, "crashreport").empty());
    EXPECT_TRUE(shell.newZuzLines().empty());
    shell.end();
}

TEST(CommandsSystem, BetaRcBuildSwitchesCrashReporting) {
    ShellSession shell(shellWith({"-t", "telnet"}, {}, VELA_BETARC_BINARY));
    EXPECT_EQ(shell.run("crashreport enable", "\n"), shown("crash reporting enabled"));
    EXPECT_EQ(shell.device().state().crashReportState(), "enabled");
    EXPECT_EQ(shell.run("crashreport disable", "\n"), shown("crash reporting disabled"));
    EXPECT_EQ(shell.device().state().crashReportState(), "disabled");
    for (const char *line : {"crashreport Enable", "crashreport", "crashreport enable now"})
        EXPECT_EQ(shell.run(line, kUsage), kUsage) << line;
    EXPECT_EQ(runsOf(shell, "crashreport"), (Runs{{"/opt/halvern/bin/crashreport", "enable"},
                                                  {"/opt/halvern/bin/crashreport", "disable"}}));
    EXPECT_EQ(shell.run("crashreport test", "written now\r\n"),
              "simulating crash to test crashreport\r\r\n"
              "simulated crash: a crash report would be written now\r\n");
    EXPECT_EQ(shell.newZuzLines(), std::vector<std::string>{"D: crashtest"});
    shell.end();
}

// Tools that talk and fail: setenv's tool is started directly with its output
// discarded (its errors reach the terminal, its status is not examined); a failing
// crash-report tool is reported.
TEST(CommandsSystem, ToolsThatTalkAndFail) {
    ToolScript setenv(
        "echo \"tool output $*\"\n"
        "echo \"tool error from $(cat /proc/$PPID/comm)\" >&2\n"
        "exit 5\n",
        "/opt/halvern/bin/fw_setenv");
    ToolScript crashreport("exit 3\n", "/opt/halvern/bin/crashreport");
    DeviceOptions options = shellWith({"-t", "telnet"}, {}, VELA_BETARC_BINARY);
    options.installs = {setenv.install, crashreport.install};
    ShellSession shell(options);
    const std::string printed = shell.runThenSync("setenv name value");
    EXPECT_NE(printed.find("tool error from vela\r\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("tool output"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("error:"), std::string::npos) << printed;
    EXPECT_EQ(shell.run("crashreport enable", "\n"), shown("crashreport command returned error"));
    shell.end();
}
