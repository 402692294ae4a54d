// The driving side of a terminal (a pty's master) or of a connection or pipe, as a person
// at a terminal or a telnet daemon drives it: the one driver of the tests and benchmarks.
//
//   vela::test::Terminal shell(vela::test::Terminal::Pty{.columns = 1000});
//   shell.start({"/opt/halvern/bin/vela", "-t", "telnet"});
//   shell.type("status\r");
//   std::optional<std::string> shown = shell.readUntil("-> ");
//
// Typing writes every byte while reading the output, so that neither side blocks. All
// output is kept until discarded, and each wait moves a match position through it. Output
// is read by the thread that waits or types, or all the time by a thread of the terminal's
// own once keepReading() was called: for callers that wait on other things while the
// program writes. Waits last VELA_TEST_TIME_SCALE times longer when that is set.
// Members may be called from any thread; typing and waiting from one thread at a time.
#ifndef VELA_TEST_TERMINAL_H
#define VELA_TEST_TERMINAL_H

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "unique_fd.h"

namespace vela::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Terminal {
  public:
    struct Pty {
        unsigned short columns = 80;  // 24 rows of them
        bool rawOutput = false;       // no output processing: the program's bytes as written
    };
    // Drives stream (a socket, a pipe) from now on.
    explicit Terminal(vela::UniqueFd stream);
    // A fresh pty. Its slave stays open until a program starts, so what is typed first
    // is kept for it. Throws std::system_error.
    explicit Terminal(Pty pty);
    // Kills a program still running and stops reading.
    ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // --- a program on the pty
    // Starts argv (argv[0] a path) as the leader of a new session whose controlling
    // terminal is the slave, on its standard input, output and error, with none of this
    // process's other descriptors and an empty signal mask. Throws std::system_error.
    pid_t start(const std::vector<std::string> &argv);
    // The same with child run in the new process instead of a program; the process ends
    // when it returns. In a process of several threads, child may only make
    // async-signal-safe calls.
    pid_t start(const std::function<void()> &child);
    pid_t pid() const { return pid_; }
    // The program's exit code, or 128 + the signal that ended it, once it ends within
    // timeout; nullopt while it runs.
    std::optional<int> waitExit(std::chrono::milliseconds timeout);
    // Kills the program's process group and reaps it; its status as waitExit gives it.
    int kill();
    // Once reaped: the CPU time, user and system, of the program (every thread) and of
    // the programs it waited for, in seconds; NaN before.
    double reapedCpuSeconds() const { return reapedCpu_; }
    // The slave's device path ("/dev/pts/3"); "" for a stream.
    const std::string &slavePath() const { return slavePath_; }
    // The master or stream: for its modes and window size.
    int fd() const { return stream_.get(); }

    // --- typing and reading
    // Writes every byte, reading meanwhile; false when the terminal ended or the bytes
    // could not all be written within timeout.
    bool type(std::string_view bytes, std::chrono::milliseconds timeout = 30s);
    // Waits until text appears after the previous match and moves past it; returns the
    // output from there through text; nullopt on timeout or once the terminal ended
    // without it.
    std::optional<std::string> readUntil(std::string_view text,
                                         std::chrono::milliseconds timeout = 5s);
    // The same without the copy.
    bool waitFor(std::string_view text, std::chrono::milliseconds timeout = 5s);
    // Reads until marker appears, keeping none of the output; returns how many bytes were
    // read, or nothing on timeout or at the end of the terminal. For output too large to
    // keep.
    std::optional<size_t> drainUntil(std::string_view marker, std::chrono::milliseconds timeout);
    // Reads what arrives until deadline (at most one read); false once the terminal ended.
    bool readSome(Clock::time_point deadline);
    // Waits up to timeout until the other side has closed and all is read.
    bool waitEnd(std::chrono::milliseconds timeout = 5s);
    // A copy of everything kept; how often text occurs in it; forgetting it.
    std::string output() const;
    size_t count(std::string_view text) const;
    void discardOutput();
    // From now on a thread of the terminal's own reads all the time.
    void keepReading();
    // Stops reading and closes the terminal: a pty's program gets a hang-up.
    void hangUp();

  private:
    // Waits until done() holds (under mutex_) or deadline; false on timeout.
    bool waitUntil(Clock::time_point deadline, const std::function<bool()> &done);
    bool tryWrite(std::string_view &bytes);

    vela::UniqueFd stream_;  // non-blocking; read by one thread at a time
    vela::UniqueFd slave_;   // until a program starts
    std::string slavePath_;
    pid_t pid_ = -1;
    double reapedCpu_;
    std::atomic<bool> stop_{false};
    std::thread reader_;  // after keepReading(); joined by hangUp()
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;  // guarded by mutex_, like the two below
    size_t matchEnd_ = 0;
    bool ended_ = false;
};

}  // namespace vela::test

#endif
