// The system commands end to end: the boot environment tools, crash reporting in the
// product and in a BetaRC build, the internal command interpreter of zuz.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ShellSession.h"

using namespace vela::test;

namespace {

const std::string kNeedsMore = "error: command needs more parameters to execute successfully\r\r\n";
const std::string kIllegal = "error: command has illegal parameter(s)\r\r\n";
const std::string kNotFound = "error: command not found\r\r\n";
const std::string kUsage = "usage: crashreport enable|disable\r\r\n";

// Runs of the named tool, newest last.
std::vector<std::vector<std::string>> runsOf(ShellSession &shell, const std::string &tool) {
    std::vector<std::vector<std::string>> runs;
    for (auto &argv : shell.device().state().toolInvocations()) {
        if (!argv.empty() && argv[0].substr(argv[0].rfind('/') + 1) == tool) runs.push_back(argv);
    }
    return runs;
}

// A shell script on the host, removed with the object.
class HostScript {
  public:
    explicit HostScript(const std::string &body)
        : path_(testing::TempDir() + "tool-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter_++)) {
        std::ofstream(path_) << "#!/bin/sh\n" << body;
        ::chmod(path_.c_str(), 0755);
    }
    ~HostScript() { ::unlink(path_.c_str()); }
    const std::string &path() const { return path_; }

  private:
    static inline int counter_ = 0;
    std::string path_;
};

}  // namespace

TEST(CommandsSystem, SetenvChecksItsLimitsAndRunsTheTool) {
    ShellSession shell;
    const std::string name128(128, 'n'), value372(372, 'v');
    EXPECT_EQ(shell.run("setenv", kNeedsMore), kNeedsMore);
    EXPECT_EQ(shell.run("setenv " + name128 + "x v", kIllegal), kIllegal);
    EXPECT_EQ(shell.run("setenv a " + value372 + "v", kIllegal), kIllegal);
    EXPECT_EQ(shell.run("setenv a b c", kIllegal), kIllegal);
    EXPECT_EQ(shell.run("setenv a \"\"", kIllegal), kIllegal) << "an empty value";
    EXPECT_EQ(shell.run("setenv \"\" v", kIllegal), kIllegal) << "an empty name";
    EXPECT_TRUE(runsOf(shell, "fw_setenv").empty());

    shell.runThenSync("setenv " + name128 + " " + value372);
    shell.runThenSync("setenv bootdelay");
    EXPECT_EQ(runsOf(shell, "fw_setenv"),
              (std::vector<std::vector<std::string>>{{"fw_setenv", name128, value372},
                                                     {"fw_setenv", "bootdelay"}}));
    auto env = shell.device().state().bootEnv();
    EXPECT_EQ(env[name128], value372);
    EXPECT_EQ(env.count("bootdelay"), 0u) << "a name alone deletes the variable";
    shell.end();
}

TEST(CommandsSystem, SetenvHandsShellMetacharactersOverVerbatim) {
    ShellSession shell;
    const std::vector<std::string> values = {
        "a;touch /tmp/p1", "$(touch /tmp/p2)",        "`touch /tmp/p3`",
        "'q' \"dq\"",      "x|touch /tmp/p4>/tmp/p5", "&& touch /tmp/p6 &",
    };
    // Quoted on the line so that each is one argument; \" is the tokenizer's quote.
    for (size_t i = 0; i < values.size(); ++i) {
        std::string quoted;
        for (char c : values[i])
            quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
        shell.runThenSync("setenv m" + std::to_string(i) + " \"" + quoted + "\"");
    }
    shell.runThenSync("setenv raw;touch${IFS}/tmp/p7 $(id)");
    auto runs = runsOf(shell, "fw_setenv");
    ASSERT_EQ(runs.size(), values.size() + 1);
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(runs[i],
                  (std::vector<std::string>{"fw_setenv", "m" + std::to_string(i), values[i]}));
    EXPECT_EQ(runs.back(),
              (std::vector<std::string>{"fw_setenv", "raw;touch${IFS}/tmp/p7", "$(id)"}));
    EXPECT_EQ(shell.device().state().bootEnv()["m3"], "'q' \"dq\"");
    auto created = shell.device().runInDevice({"sh", "-c", "ls /tmp | grep '^p[0-9]'"});
    EXPECT_EQ(created.out, "") << "nothing was run by a command interpreter";
    shell.end();
}

TEST(CommandsSystem, SetenvStartsTheToolDirectlyWithItsOutputDiscarded) {
    HostScript tool(
        "echo \"tool output $*\"\n"
        "echo \"tool error from $(cat /proc/$PPID/comm)\" >&2\n"
        "exit 5\n");
    DeviceOptions options;
    options.installs = {{tool.path(), "/opt/halvern/bin/fw_setenv"}};
    ShellSession shell(options);
    // The tool's error output reaches the terminal; its status is not examined.
    std::string shown = shell.runThenSync("setenv name value");
    EXPECT_NE(shown.find("tool error from vela\r\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("tool output"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("error:"), std::string::npos) << shown;
    shell.end();
}

TEST(CommandsSystem, PrintenvShowsTheBootEnvironment) {
    ShellSession shell;
    EXPECT_EQ(shell.run("printenv", "ethaddr=00:19:7b:00:00:01\r\n"),
              "baudrate=115200\r\nbootcmd=run flash_boot\r\nbootdelay=3\r\n"
              "ethaddr=00:19:7b:00:00:01\r\n");
    shell.runThenSync("setenv zz \"two words\"");
    EXPECT_EQ(shell.run("printenv ignored words", "zz=two words\r\n").substr(0, 16),
              "baudrate=115200\r");
    auto runs = runsOf(shell, "fw_printenv");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1], std::vector<std::string>{"fw_printenv"}) << "arguments are not passed on";
    shell.end();
}

TEST(CommandsSystem, ReleaseBuildHasNoCrashReporting) {
    ShellSession shell;
    for (const char *line :
         {"crashreport enable", "crashreport", "crashreport test", "crashreport Enable x"})
        EXPECT_EQ(shell.run(line, kNotFound), kNotFound) << line;
    EXPECT_EQ(shell.run("shell", kNotFound), kNotFound);
    EXPECT_EQ(shell.run("shell -c id", kNotFound), kNotFound);
    EXPECT_TRUE(runsOf(shell, "crashreport").empty());
    EXPECT_TRUE(shell.newZuzLines().empty());
    shell.end();
}

TEST(CommandsSystem, BetaRcBuildSwitchesCrashReporting) {
    DeviceOptions options;
    options.velaBinary = VELA_BETARC_BINARY;
    ShellSession shell(options);
    EXPECT_EQ(shell.run("crashreport enable", "\n"), "crash reporting enabled\r\r\n");
    EXPECT_EQ(shell.device().state().crashReportState(), "enabled");
    EXPECT_EQ(shell.run("crashreport disable", "\n"), "crash reporting disabled\r\r\n");
    EXPECT_EQ(shell.device().state().crashReportState(), "disabled");
    for (const char *line : {"crashreport Enable", "crashreport", "crashreport enable now"})
        EXPECT_EQ(shell.run(line, kUsage), kUsage) << line;
    EXPECT_EQ(runsOf(shell, "crashreport"),
              (std::vector<std::vector<std::string>>{{"/opt/halvern/bin/crashreport", "enable"},
                                                     {"/opt/halvern/bin/crashreport", "disable"}}));
    EXPECT_EQ(shell.run("crashreport test", "written now\r\n"),
              "simulating crash to test crashreport\r\r\n"
              "simulated crash: a crash report would be written now\r\n");
    EXPECT_EQ(shell.newZuzLines(), std::vector<std::string>{"D: crashtest"});
    shell.end();
}

TEST(CommandsSystem, BetaRcBuildReportsAFailingTool) {
    HostScript tool("exit 3\n");
    DeviceOptions options;
    options.velaBinary = VELA_BETARC_BINARY;
    options.installs = {{tool.path(), "/opt/halvern/bin/crashreport"}};
    ShellSession shell(options);
    EXPECT_EQ(shell.run("crashreport enable", "\n"), "crashreport command returned error\r\r\n");
    shell.end();
}

TEST(CommandsSystem, SysAndKboxSendTheirWordsToTheInterpreter) {
    ShellSession shell;
    EXPECT_EQ(shell.runThenSync("sys"), "sys\r\n" + std::string(kSyncOutput));
    EXPECT_EQ(shell.runThenSync("kbox"), "kbox\r\n" + std::string(kSyncOutput));
    shell.forward("kbox a  b", "D: a b");
    shell.forward("sys   version  ", "D: version");
    EXPECT_EQ(shell.newZuzLines(), (std::vector<std::string>{"D: a b", "D: version"}));
    EXPECT_TRUE(shell.device().waitFor("zuz 2.4.1 (simulated device)"));
    shell.end();
}
