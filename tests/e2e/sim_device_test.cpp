// What the simulated device promises that no test of the shell would notice breaking:
// the host's /tmp and /dev/log stay untouched and nothing outlives a device, bad options
// and bad zuz rules are refused, syslogd forwards lines in the layout the shell reads,
// and fw_setenv stores its arguments verbatim.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "DeviceSession.h"
#include "Rules.h"

using namespace vela::test;
namespace fs = std::filesystem;

namespace {

DeviceOptions deviceRunning(std::string script) {
    DeviceOptions options;
    options.command = {"sh", "-c", "setsid sleep 1000 >/dev/null 2>&1 & " + std::move(script)};
    return options;
}

// The pid namespace of pid, held open: a namespace is known by its inode, which a new
// one (another test's device) could take over once this one is gone.
vela::UniqueFd pidNamespaceOf(pid_t pid) {
    return vela::UniqueFd(
        ::open(("/proc/" + std::to_string(pid) + "/ns/pid").c_str(), O_RDONLY | O_CLOEXEC));
}

// Host processes still inside that pid namespace.
int processesIn(const vela::UniqueFd &ns) {
    struct stat nsStat {};
    EXPECT_EQ(::fstat(ns.get(), &nsStat), 0);
    int count = 0;
    for (const auto &entry : fs::directory_iterator("/proc")) {
        struct stat st {};
        count +=
            ::stat((entry.path() / "ns/pid").c_str(), &st) == 0 && st.st_ino == nsStat.st_ino &&
            st.st_dev == nsStat.st_dev &&
            entry.path().filename().string().find_first_not_of("0123456789") == std::string::npos;
    }
    return count;
}

}  // namespace

// The device also forwards syslog lines as the shell reads them, after a SIGHUP too, and
// its fw_setenv keeps its arguments verbatim.
TEST(SimDevice, ServesTheShellLeavingTheHostUntouchedAndNoProcessBehind) {
    struct stat hostLog {};
    const bool hadLog = ::stat("/dev/log", &hostLog) == 0;
    const std::string marker = "/tmp/vela-sim-marker-" + std::to_string(::getpid());
    vela::UniqueFd ns;
    {
        DeviceSession device(deviceRunning("touch " + marker + "; sleep infinity"));
        ns = pidNamespaceOf(device.initPid());
        ASSERT_TRUE(eventually([&] {
            return device.runInDevice({"test", "-e", marker}).status == 0;
        }));
        EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "the host's /tmp is not the device's";
        EXPECT_GE(processesIn(ns), 5);

        auto listener = device.connectDatagram("/tmp/sysloglisteners/vela3", true);
        auto log = device.connectDatagram("/dev/log");
        ASSERT_TRUE(listener && log);
        // zuz logs its start once it listens, maybe after the command started: that record
        // must be in before the hangup, or it could be forwarded first.
        ASSERT_TRUE(eventually([&] {
            auto records = device.syslogRecords();
            return !records.empty() && records.front().message == "application started";
        }));
        ASSERT_TRUE(device.signalDaemon("syslogd", SIGHUP));
        // The line that reaches the listener for a datagram sent to /dev/log; "" after 2 s.
        auto forwarded = [&](const std::string &datagram) {
            EXPECT_EQ(::send(log.get(), datagram.data(), datagram.size(), 0),
                      ssize_t(datagram.size()));
            pollfd p{listener.get(), POLLIN, 0};
            char line[4096];
            ssize_t n = ::poll(&p, 1, 2000) == 1 ? ::recv(listener.get(), line, sizeof line, 0) : 0;
            return std::string(line, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        };
        // The C library's form, as the shell's records arrive.
        std::string line =
            forwarded("<69>Dec  5 19:27:22 vela: SECURITY: telnet3:Session timed out ID: admin\n");
        EXPECT_TRUE(std::regex_match(
            line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d notice vela: SECURITY: )"
                             R"(telnet3:Session timed out ID: admin\n)")))
            << line;
        // The level word starts at 20; a line is cut at 1024 bytes.
        line = forwarded("<3>zuz: " + std::string(2000, 'z'));
        EXPECT_EQ(line.size(), 1024u);
        EXPECT_EQ(line.substr(20, 9), "err zuz: ");

        const std::string value = "a b;$(reboot) `x` \"q\" 'r' \\ *";
        EXPECT_EQ(device.runInDevice({"fw_setenv", "bootargs", value}).status, 0);
        EXPECT_EQ(device.runInDevice({"fw_printenv", "bootargs"}).out, "bootargs=" + value + "\n");
        // The harness refuses bad zuz rules before the device sees them.
        EXPECT_THROW(device.setZuzRules("any => reply"), std::invalid_argument);
    }
    EXPECT_EQ(processesIn(ns), 0) << "after the harness ended the device";

    DeviceSession ended(deviceRunning("sleep 0.2"));
    ns = pidNamespaceOf(ended.initPid());
    EXPECT_EQ(ended.waitExit(), 0);
    EXPECT_TRUE(eventually([&] { return processesIn(ns) == 0; }, 1s)) << "after its command ended";
    struct stat after {};
    EXPECT_EQ(::stat("/dev/log", &after) == 0, hadLog);
    EXPECT_TRUE(!hadLog || after.st_ino == hostLog.st_ino);
}

TEST(SimDevice, LauncherRefusesBadOptionsWithStatus2) {
    for (const std::string args :
         {"--bogus -- true", "--state", "--no-ready", "--install /bin/sh=/usr/bin/sh true",
          "--install /no/such/file=/opt/x true", "--setting novalue true", "--lockout-ms soon true",
          "--forward 2323:65536 true"}) {
        const auto result = runProcess(
            {"/bin/sh", "-c", "exec " + std::string(VELA_HARNESS_DEVICE_LAUNCHER) + " " + args},
            5s);
        EXPECT_EQ(result.status, 2) << args;
        EXPECT_EQ(result.out.rfind("device: ", 0), 0u) << result.out;
    }
}

// What each rule does shows in the shell's tests, which script zuz with them.
TEST(SimDevice, ZuzRulesParserRejectsBadLines) {
    auto set = sim::zuz::parseRules(
        "# comment\n\nexact \"C: a\" => delay 5\nany => bogus\nexact \"open => run\n"
        "prefix \"C\" => delay 70000\nprefix \"C\" => sendlong 0\nexact \"C\" => run extra\n");
    EXPECT_EQ(set.rules.size(), 1u);
    EXPECT_EQ(set.errors.size(), 5u);
    EXPECT_EQ(set.errors[0], "line 4: unknown action bogus");
}
