// Local commands end to end: the sticky modes and their end in a real session; the boot
// environment tools and crash reporting in the product and in a BetaRC build, and which
// of their tools the environment may redirect. What each command prints and sends, and
// its argument checks, are unit-tested (tests/shell/commands_test.cpp).
#include <gtest/gtest.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

constexpr auto npos = std::string::npos;
const std::string kUsage = shown("usage: crashreport enable|disable");
using Runs = std::vector<std::vector<std::string>>;

// Runs of the named tool, newest last.
Runs runsOf(ShellSession &shell, const std::string &tool) {
    Runs runs;
    for (auto &argv : shell.toolInvocations()) {
        if (!argv.empty() && argv[0].substr(argv[0].rfind('/') + 1) == tool) runs.push_back(argv);
    }
    return runs;
}

}  // namespace

// The release build: setenv hands its words over verbatim (shell metacharacters and
// format specifiers are only text), printenv lists the environment. (That it has no
// crash reporting: tests/shell/commands_test.cpp.)
TEST(CommandsSystem, ReleaseBuildBootEnvironment) {
    ShellSession shell;
    const std::string name128(128, 'n'), value372(372, 'v'),
        value =
            "a;touch /tmp/p1 $(touch /tmp/p2)`touch /tmp/p3`|touch /tmp/p4>/tmp/p5&'q'\"dq\"%n\x1b";
    // Each line and its tool's arguments; \" and \x1b are the tokenizer's.
    const std::pair<std::string, std::vector<std::string>> lines[] = {
        {R"(setenv m0 "a;touch /tmp/p1 $(touch /tmp/p2)`touch /tmp/p3`|touch /tmp/p4>/tmp/p5&'q'\"dq\"%n\x1b")",
         {"fw_setenv", "m0", value}},
        {"setenv raw;touch${IFS}/tmp/p6 $(id)", {"fw_setenv", "raw;touch${IFS}/tmp/p6", "$(id)"}},
        {"setenv " + name128 + " " + value372, {"fw_setenv", name128, value372}},
        {"setenv bootdelay", {"fw_setenv", "bootdelay"}},  // a name alone deletes the variable
    };
    Runs expected;
    for (const auto &[line, args] : lines) {
        shell.runThenSync(line);
        expected.push_back(args);
    }
    EXPECT_EQ(runsOf(shell, "fw_setenv"), expected);
    EXPECT_EQ(shell.runInDevice({"sh", "-c", "ls /tmp | grep '^p[0-9]'"}).out, "")
        << "nothing was run by a command interpreter";
    const std::string listed = shell.run("printenv ignored words", value372 + "\r\n");
    EXPECT_EQ(listed.rfind("baudrate=115200\r\nbootcmd=run flash_boot\r\n", 0), 0u) << listed;
    EXPECT_NE(listed.find(name128 + "=" + value372 + "\r\n"), npos);
    EXPECT_EQ(runsOf(shell, "fw_printenv"), (Runs{{"fw_printenv"}})) << "no arguments passed on";
    EXPECT_TRUE(shell.newZuzLines().empty());
    shell.end();
}

// A BetaRC build switches crash reporting with the device's tool; its usage errors stop
// short of it, and "crashreport test" asks the application to crash. Only the boot tools
// are looked up on PATH, by design: a fake of every tool there leaves a mark when run,
// talks on both outputs and fails. setenv's tool is started directly with its output
// discarded (its errors reach the terminal, its status is not examined). Neither kbox,
// crashreport nor sh is taken from PATH, nor does the import follow TMPDIR. A failing
// crash-report tool is reported.
TEST(CommandsSystem, BetaRcBuildCrashReportingAndToolsFromTheEnvironment) {
    DeviceOptions options = shellWith({}, {}, VELA_BETARC_BINARY);
    options.command = {
        "sh", "-c",
        R"-(mkdir /tmp/fake && cd /tmp/fake && printf '#!/bin/sh\ntouch /tmp/ran-${0##*/}\n)-"
        R"-(echo "tool output $*"\necho "tool error from $(cat /proc/$PPID/comm)" >&2\nexit 5')-"
        R"-( > kbox && chmod 755 kbox && for t in crashreport fw_setenv fw_printenv sh; do cp )-"
        R"-(kbox $t; done; cd / && exec env PATH=/tmp/fake:$PATH TMPDIR=/tmp/fake HOME=/tmp/fake )-" +
            std::string(kDeviceVela) + " -t telnet"};
    ShellSession shell(options);
    EXPECT_EQ(shell.run("crashreport enable", "\n"), shown("crash reporting enabled"));
    EXPECT_EQ(shell.stateFile("crashreport.state"), "enabled\n");
    EXPECT_EQ(shell.run("crashreport disable", "\n"), shown("crash reporting disabled"));
    EXPECT_EQ(shell.stateFile("crashreport.state"), "disabled\n");
    for (const char *line : {"crashreport Enable", "crashreport", "crashreport enable now"})
        EXPECT_EQ(shell.run(line, kUsage), kUsage) << line;
    EXPECT_EQ(runsOf(shell, "crashreport"), (Runs{{"/opt/halvern/bin/crashreport", "enable"},
                                                  {"/opt/halvern/bin/crashreport", "disable"}}));
    EXPECT_EQ(shell.run("crashreport test", "written now\r\n"),
              "simulating crash to test crashreport\r\r\n"
              "simulated crash: a crash report would be written now\r\n");
    EXPECT_EQ(shell.newZuzLines(), Lines{"D: crashtest"});

    const std::string printed = shell.runThenSync("setenv name value");
    EXPECT_NE(printed.find("tool error from vela\r\n"), npos) << printed;
    EXPECT_EQ(printed.find("tool output"), npos) << printed;
    EXPECT_EQ(printed.find("error:"), npos) << printed;
    shell.runThenSync("printenv");
    shell.type("importdirectory\rone\rimportcomplete\r");
    EXPECT_TRUE(shell.waitForZuzLine("C: _importdirectory /tmp/webdata/directory.csv"));
    EXPECT_EQ(deviceFile(shell, "/tmp/webdata/directory.csv"), "one\n");
    EXPECT_EQ(shell.runInDevice({"sh", "-c", "cd /tmp && ls -1 ran-*"}).out,
              "ran-fw_printenv\nran-fw_setenv\n");
    const std::string tool = "/opt/halvern/bin/crashreport";
    ASSERT_EQ(shell
                  .runInDevice({"sh", "-c",
                                "umount " + tool + " && printf '#!/bin/sh\\nexit 3' > " + tool +
                                    " && chmod 755 " + tool})
                  .status,
              0);
    EXPECT_EQ(shell.run("crashreport enable", "\n"), shown("crashreport command returned error"));
    shell.end();
}

// The sticky modes frame what they forward, secrets too; "exit" leaves the customer API
// mode of a telnet session, "quit" in another mode ends the session. Links planted where
// the shell creates its listener sockets are replaced, never followed.
TEST(CommandsModes, StickyModesAndTheirEnd) {
    DeviceOptions options = keptUp(shellWith({"-t", "telnet"}));
    options.command[2] =
        "cd /tmp && for t in api log; do echo keep > $t; chmod 600 $t; done; "
        "for n in $(seq 0 99); do ln -s /tmp/api apiasynclisteners/vela$n; "
        "ln -s /tmp/log sysloglisteners/vela$n; done; " +
        options.command[2];
    ShellSession shell(options, ShellSession::kReady);
    const std::string leaf = "vela" + ttyOf(shell).substr(9);
    EXPECT_TRUE(eventually([&] {
        return shell
                   .runInDevice({"sh", "-c",
                                 "cd /tmp && stat -c '%F %a' apiasynclisteners/" + leaf +
                                     " sysloglisteners/" + leaf + " api log && cat api log"})
                   .out ==
               "socket 666\nsocket 666\nregular file 600\nregular file 600\nkeep\nkeep\n";
    }));
    shell.type("apicmds\r");
    EXPECT_TRUE(shell.waitFor("Entering sticky customer api commands *ONLY* mode..."));
    shell.forward("setpassword admin x Secret4 Secret5",
                  "E: setpassword admin x " + hexEncoded("Secret4") + " " + hexEncoded("Secret5"));
    shell.type("exit\r");
    EXPECT_TRUE(shell.waitFor("Exiting customer api *ONLY* mode\r\n"));
    shell.type("devcmds\r");
    EXPECT_TRUE(shell.waitFor("Entering sticky internal commands *ONLY* mode..."));
    shell.forward("status", "D: status");
    shell.type("quit\r");
    EXPECT_EQ(endStatus(shell), 0);
    EXPECT_EQ(zuzFrom(shell, "D: status"), (Lines{"D: status", kClear23, "U"}));
}
