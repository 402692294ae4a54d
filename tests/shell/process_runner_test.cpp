// Starting the device's tools: statuses, standard output, and a clean signal state.
#include "process_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// What the child printed on the pipe, read to its end.
std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

// The hexadecimal signal set of a /proc status field.
unsigned long long field(const std::string &status, const std::string &name) {
    size_t at = status.find(name + ":\t");
    return at == std::string::npos ? ~0ULL
                                   : std::stoull(status.substr(at + name.size() + 2), nullptr, 16);
}

}  // namespace

TEST(ProcessRunner, StatusesOfToolsThatRunOrFail) {
    const char *yes[] = {"/bin/true", nullptr}, *no[] = {"/bin/false", nullptr};
    const char *on_path[] = {"true", nullptr};
    EXPECT_EQ(wait_for_child(spawn_program(yes, SpawnOptions{})), 0);
    EXPECT_EQ(WEXITSTATUS(wait_for_child(spawn_program(no, SpawnOptions{}))), 1);
    EXPECT_EQ(wait_for_child(spawn_program(on_path, SpawnOptions{.search_path = true})), 0);
    EXPECT_EQ(wait_for_child(getpid() + 1000000), -1);
    EXPECT_EQ(WEXITSTATUS(run_command_line("exit 3")), 3);
}

TEST(ProcessRunner, ToolsThatCannotStartAreRefusedWithTheirError) {
    const char *missing[] = {"/nonexistent/tool", nullptr}, *on_path[] = {"true", nullptr};
    EXPECT_EQ(spawn_program(missing, SpawnOptions{}), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(spawn_program(on_path, SpawnOptions{}), -1) << "no PATH lookup unless asked";
}

// A tool gets neither the shell's blocked termination signals nor its ignored SIGPIPE
// and job-control stops, nor any descriptor above 2.
TEST(ProcessRunner, ToolsStartWithTheDefaultSignalStateAndOwnOutput) {
    const int stops[] = {SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU};
    sigset_t blocked, saved;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &blocked, &saved);
    for (int ignored : stops)
        signal(ignored, SIG_IGN);
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    int extra = open("/dev/null", O_RDONLY);  // inheritable: must still be closed
    const char *argv[] = {"/bin/sh", "-c", "cat /proc/self/status; echo fds; ls /proc/$$/fd",
                          nullptr};
    pid_t pid = spawn_program(argv, SpawnOptions{.stdout_fd = pipe_fds[1]});
    close(pipe_fds[1]);
    const std::string printed = drain(pipe_fds[0]);
    EXPECT_EQ(wait_for_child(pid), 0);
    for (int fd : {pipe_fds[0], extra})
        close(fd);
    for (int ignored : stops)
        signal(ignored, SIG_DFL);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    EXPECT_EQ(field(printed, "SigBlk"), 0u) << printed;
    for (int ignored : stops)
        EXPECT_EQ(field(printed, "SigIgn") & (1ULL << (ignored - 1)), 0u) << ignored;
    const std::string fds = printed.substr(printed.find("fds\n") + 3);
    EXPECT_EQ(fds.find("\n" + std::to_string(extra) + "\n"), std::string::npos) << fds;
}
