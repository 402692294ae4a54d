// Child processes of a test or benchmark: started with only async-signal-safe calls after
// fork, since the process may run several threads. Every function may be used from any
// thread.
#ifndef VELA_TEST_SUBPROCESS_H
#define VELA_TEST_SUBPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vela::test {

struct RunResult {
    int status = -1;  // exit code, 128 + signal, or -1 when it was killed for taking too long
    std::string out;  // standard output and error together
};

// Runs argv (argv[0] a path) with nothing on its standard input and collects its
// output; ends it after timeout (SIGTERM, then SIGKILL a second later).
RunResult runProcess(const std::vector<std::string> &argv, std::chrono::milliseconds timeout);

// In a child just forked: executes argv (null-terminated, argv[0] a path) with none of
// the parent's descriptors from 3 on and an empty signal mask; exit code 127 when it
// cannot.
[[noreturn]] void execChild(char *const argv[]);

// Waits up to timeout for child pid to end: its exit code, or 128 plus the signal
// that ended it, as the shell reports it; nullopt while it still runs.
std::optional<int> waitChild(pid_t pid, std::chrono::milliseconds timeout);

}  // namespace vela::test

#endif
