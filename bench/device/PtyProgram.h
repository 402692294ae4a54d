// A program running on the slave side of a fresh pty, driven from the master side the way a
// telnet daemon or a terminal would: bytes typed, output read and searched.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "unique_fd.h"

namespace vela::bench {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Seconds between two points of the steady clock.
inline double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// All members are for the one thread that drives the program.
class PtyProgram {
  public:
    // Opens a pty, writes typedAhead into it, and starts argv (argv[0] a path) with the slave
    // as its standard input, output, error and controlling terminal, in a session of its
    // own. Throws std::runtime_error.
    explicit PtyProgram(const std::vector<std::string> &argv, std::string_view typedAhead = {});
    // Kills the program's process group and reaps the program.
    ~PtyProgram();
    PtyProgram(const PtyProgram &) = delete;
    PtyProgram &operator=(const PtyProgram &) = delete;

    pid_t pid() const { return pid_; }
    // The slave's device path ("/dev/pts/3") and the part after its last slash ("3").
    const std::string &slavePath() const { return slavePath_; }
    std::string slaveLeaf() const { return slavePath_.substr(slavePath_.rfind('/') + 1); }

    // Writes every byte, reading output meanwhile so that neither side blocks. Throws when
    // the terminal has ended or the bytes cannot be written within timeout.
    void type(std::string_view bytes, std::chrono::milliseconds timeout = 30s);
    // Writes bytes that fit the terminal's input queue at once (a key, a short line).
    void typeShort(std::string_view bytes);
    // Reads until text appears after the previous match and moves past it. Throws on
    // timeout or when the terminal ends first (the message holds the recent output).
    void waitFor(std::string_view text, std::chrono::milliseconds timeout = 10s);
    // Reads until the byte appears after the previous match; the fast form for echoes.
    void waitForByte(char byte, std::chrono::milliseconds timeout = 10s);
    // Reads until marker appears, keeping no output; returns the bytes read. For output
    // too large to keep. Throws like waitFor.
    size_t drainUntil(std::string_view marker, std::chrono::milliseconds timeout = 60s);
    // Forgets the output read so far.
    void discardOutput();
    const std::string &output() const { return output_; }
    // How often text occurs in the output kept so far.
    size_t count(std::string_view text) const;

    // Reads what is there into output(), waiting at most until deadline; false once the
    // terminal has ended.
    bool readMore(Clock::time_point deadline) { return readSome(deadline); }
    // When the program was started: just before the fork.
    Clock::time_point started() const { return started_; }

    // Reads output until the program has switched its terminal out of canonical input, as
    // an editor does once it is ready; what is typed before may be taken as a line already.
    // Throws on timeout or when the terminal ends first.
    void waitNonCanonical(std::chrono::milliseconds timeout = 10s);

    // Kills the process group and reaps the program; returns its wait status.
    int kill();
    // Once killed: the CPU time, user and system, the program used (every thread) and the
    // programs it started and waited for, in seconds; NaN before.
    double reapedCpuSeconds() const { return reapedCpu_; }

  private:
    bool readSome(Clock::time_point deadline);
    [[noreturn]] void fail(const std::string &what) const;

    vela::UniqueFd master_;
    std::string slavePath_;
    pid_t pid_ = -1;
    std::string output_;
    size_t matchEnd_ = 0;
    bool ended_ = false;
    Clock::time_point started_;
    double reapedCpu_ = NAN;
};

}  // namespace vela::bench
