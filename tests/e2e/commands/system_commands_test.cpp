// The system commands end to end: the boot environment tools and crash reporting in
// the product and in a BetaRC build.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kIllegal = shown("error: command has illegal parameter(s)");
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
        : path(testing::TempDir() + "tool-" + std::to_string(::getpid())) {
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
        options.installs = {{path, devicePath}};
    }
    ~ToolScript() { ::unlink(path.c_str()); }
    std::string path;
    DeviceOptions options = shellWith({"-t", "telnet"});
};

}  // namespace

// The release build: setenv with its limits, printenv, and no crash reporting or shell.
TEST(CommandsSystem, ReleaseBuildSetenvPrintenvAndNoCrashReporting) {
    ShellSession shell;
    const std::string name128(128, 'n'), value372(372, 'v');
    EXPECT_EQ(shell.run("setenv", "\n"),
              shown("error: command needs more parameters to execute successfully"));
    for (const std::string &line :
         {"setenv " + name128 + "x v", "setenv a " + value372 + "v", std::string("setenv a b c"),
          std::string("setenv a \"\""), std::string("setenv \"\" v")})
        EXPECT_EQ(shell.run(line, kIllegal), kIllegal) << line;
    EXPECT_TRUE(runsOf(shell, "fw_setenv").empty());
    shell.runThenSync("setenv " + name128 + " " + value372);
    shell.runThenSync("setenv bootdelay");  // a name alone deletes the variable
    EXPECT_EQ(runsOf(shell, "fw_setenv"),
              (Runs{{"fw_setenv", name128, value372}, {"fw_setenv", "bootdelay"}}));
    EXPECT_EQ(shell.run("printenv ignored words", value372 + "\r\n"),
              "baudrate=115200\r\nbootcmd=run flash_boot\r\nethaddr=00:19:7b:00:00:01\r\n" +
                  name128 + "=" + value372 + "\r\n");
    EXPECT_EQ(runsOf(shell, "fw_printenv"), (Runs{{"fw_printenv"}})) << "no arguments passed on";
    for (const char *line : {"crashreport enable", "crashreport", "crashreport test",
                             "crashreport Enable x", "shell", "shell -c id"})
        EXPECT_EQ(shell.run(line, kNotFound), kNotFound) << line;
    EXPECT_TRUE(runsOf(shell, "crashreport").empty());
    EXPECT_TRUE(shell.newZuzLines().empty());
    shell.end();
}

TEST(CommandsSystem, SetenvHandsShellMetacharactersOverVerbatim) {
    ShellSession shell;
    const std::vector<std::string> values = {
        "a;touch /tmp/p1", "$(touch /tmp/p2)",        "`touch /tmp/p3`",
        "'q' \"dq\"",      "x|touch /tmp/p4>/tmp/p5", "&& touch /tmp/p6 &",
    };
    Runs expected;
    // Quoted on the line so that each is one argument; \" is the tokenizer's quote.
    for (size_t i = 0; i < values.size(); ++i) {
        std::string quoted;
        for (char c : values[i])
            quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
        shell.runThenSync("setenv m" + std::to_string(i) + " \"" + quoted + "\"");
        expected.push_back({"fw_setenv", "m" + std::to_string(i), values[i]});
    }
    shell.runThenSync("setenv raw;touch${IFS}/tmp/p7 $(id)");
    expected.push_back({"fw_setenv", "raw;touch${IFS}/tmp/p7", "$(id)"});
    EXPECT_EQ(runsOf(shell, "fw_setenv"), expected);
    EXPECT_EQ(shell.device().state().bootEnv()["m3"], "'q' \"dq\"");
    EXPECT_EQ(shell.device().runInDevice({"sh", "-c", "ls /tmp | grep '^p[0-9]'"}).out, "")
        << "nothing was run by a command interpreter";
    shell.end();
}

TEST(CommandsSystem, SetenvStartsTheToolDirectlyWithItsOutputDiscarded) {
    ToolScript tool(
        "echo \"tool output $*\"\n"
        "echo \"tool error from $(cat /proc/$PPID/comm)\" >&2\n"
        "exit 5\n",
        "/opt/halvern/bin/fw_setenv");
    ShellSession shell(tool.options);
    // The tool's error output reaches the terminal; its status is not examined.
    const std::string printed = shell.runThenSync("setenv name value");
    EXPECT_NE(printed.find("tool error from vela\r\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("tool output"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("error:"), std::string::npos) << printed;
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

TEST(CommandsSystem, BetaRcBuildReportsAFailingTool) {
    ToolScript tool("exit 3\n", "/opt/halvern/bin/crashreport");
    tool.options.velaBinary = VELA_BETARC_BINARY;
    ShellSession shell(tool.options);
    EXPECT_EQ(shell.run("crashreport enable", "\n"), shown("crashreport command returned error"));
    shell.end();
}
