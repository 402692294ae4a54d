// What the simulated device promises that no test of the shell would notice breaking:
// the host's /tmp and /dev/log stay untouched, nothing outlives a device, and bad zuz
// rules are refused. (What the shell relies on of its
// stand-ins, the shell's own tests show.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "DeviceSession.h"

using namespace vela::test;

namespace {

// Host processes in the pid namespace of pid's device, held open: a namespace is known
// by its inode, which a new one (another test's device) could take over once it is gone.
struct PidNamespace {
    explicit PidNamespace(pid_t pid)
        : fd(::open(("/proc/" + std::to_string(pid) + "/ns/pid").c_str(), O_RDONLY | O_CLOEXEC)) {}
    int processes() const {
        struct stat ns {};
        EXPECT_EQ(::fstat(fd.get(), &ns), 0);
        int count = 0;
        for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
            struct stat st {};
            count += entry.path().filename().string().find_first_not_of("0123456789") ==
                         std::string::npos &&
                     ::stat((entry.path() / "ns/pid").c_str(), &st) == 0 &&
                     st.st_ino == ns.st_ino && st.st_dev == ns.st_dev;
        }
        return count;
    }
    vela::UniqueFd fd;
};

DeviceOptions deviceRunning(std::string script) {
    DeviceOptions options;
    options.command = {"sh", "-c", "setsid sleep 1000 >/dev/null 2>&1 & " + std::move(script)};
    return options;
}

}  // namespace

TEST(SimDevice, LeavesTheHostUntouchedAndNoProcessBehind) {
    struct stat hostLog {};
    const bool hadLog = ::stat("/dev/log", &hostLog) == 0;
    const std::string marker = "/tmp/vela-sim-marker-" + std::to_string(::getpid());
    std::optional<PidNamespace> ns;
    {
        DeviceSession device(deviceRunning("touch " + marker + "; sleep infinity"));
        ns.emplace(device.initPid());
        ASSERT_TRUE(eventually([&] {
            return device.runInDevice({"test", "-e", marker}).status == 0;
        }));
        EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "the host's /tmp is not the device's";
        EXPECT_GE(ns->processes(), 5);
        EXPECT_THROW(device.setZuzRules("any => reply"), std::invalid_argument);
    }
    EXPECT_EQ(ns->processes(), 0) << "after the harness ended the device";

    DeviceSession ended(deviceRunning("sleep 0.2"));
    ns.emplace(ended.initPid());
    EXPECT_EQ(ended.waitExit(), 0);
    EXPECT_TRUE(eventually([&] { return ns->processes() == 0; }, 1s)) << "after its command ended";
    struct stat after {};
    EXPECT_EQ(::stat("/dev/log", &after) == 0, hadLog);
    EXPECT_TRUE(!hadLog || after.st_ino == hostLog.st_ino);
}
