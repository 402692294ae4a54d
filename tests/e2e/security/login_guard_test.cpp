// The login cannot be got around: not by a key at its prompts, not by a local process
// that answers in the application's place.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

const std::string kPassword = shown("Password:");
const std::string kShellBanner = shown("Halvern Command Shell");

// Sends datagram on fd from a process of user uid; false when it could not.
bool sendAs(uid_t uid, int fd, const std::string &datagram) {
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        bool changed = setresgid(uid, uid, uid) == 0 && setresuid(uid, uid, uid) == 0;
        _exit(changed && send(fd, datagram.data(), datagram.size(), 0) ==
                             static_cast<ssize_t>(datagram.size())
                  ? 0
                  : 1);
    }
    int status = -1;
    return waitpid(child, &status, 0) == child && status == 0;
}

}  // namespace

// Ctrl-Z at either prompt stops nothing, even under a job-control shell that leads the
// terminal's session (only then can a stop take effect); the login then goes on.
TEST(LoginGuard, CtrlZAtThePromptsDoesNotStopTheSession) {
    DeviceOptions options = shellWith({"-t", "telnet"}, secureProfile("secret"));
    options.command = {"setsid", "--ctty", "bash", "-mc",
                       std::string(kDeviceVela) + " -t telnet; echo \"[end $?]\""};
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor(shown("Login:"))) << device.output();
    device.type(
        "\x1a"
        "admin\r");
    ASSERT_TRUE(device.waitFor(kPassword)) << device.output();
    device.type(
        "\x1a"
        "secret\r");
    ASSERT_TRUE(device.waitFor(kShellBanner)) << device.output();
    ASSERT_TRUE(waitForLoop(device));
    device.type("\x04");
    EXPECT_TRUE(device.waitFor("[end 0]"));
}

// While the login waits for its result, a "success" from another user of the device is
// dropped with a record; the application's own answer (here from root) decides.
TEST(LoginGuard, OnlyTheApplicationCanAnswerALogin) {
    if (geteuid() != 0) GTEST_SKIP() << "sending as another user needs root";
    DeviceOptions options = shellWith({"-t", "telnet"}, {{"sw", "secret"}});
    options.zuzRules = "prefix \"E: _control login\" times 1 => noresult\n";
    DeviceSession device(options);
    ASSERT_TRUE(device.waitFor(kPassword));
    device.type("guess\r");
    ASSERT_TRUE(eventually([&] { return zuzCount(device, "E: _control login", true) == 1; }));
    auto listener = device.connectDatagram("/tmp/apiasynclisteners/vela" + ttyOf(device).substr(9));
    ASSERT_TRUE(listener);
    ASSERT_TRUE(sendAs(65534, listener.get(), "success\n"));
    ASSERT_TRUE(sendAs(0, listener.get(), "failed\n"));
    EXPECT_TRUE(converse(device, {{shown(" -- password failed, retry --"), ""},
                                  {kPassword, "secret\r"},
                                  {kShellBanner, ""}}));
    EXPECT_TRUE(waitForRecord(
        device, "SECURITY: " + sessionName(device) + ":dropped a datagram from uid 65534 "));
}
