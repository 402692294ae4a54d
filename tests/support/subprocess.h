// Child processes of a test: started with only async-signal-safe calls after fork,
// since the test process runs several threads. Every function may be used from any thread.
#ifndef VELA_HARNESS_SUBPROCESS_H
#define VELA_HARNESS_SUBPROCESS_H

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

// Starts argv (argv[0] a path) as the leader of a new session whose controlling
// terminal is the pty slave at slavePath, on its standard input, output and error.
// Returns the child's pid (also its process group). Throws std::system_error.
pid_t spawnOnTerminal(const std::vector<std::string> &argv, const std::string &slavePath);

// Waits up to timeout for child pid to end: its exit code, or 128 plus the signal
// that ended it, as the shell reports it; nullopt while it still runs.
std::optional<int> waitChild(pid_t pid, std::chrono::milliseconds timeout);

}  // namespace vela::test

#endif
