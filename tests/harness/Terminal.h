// The test's side of a pty: what it types and everything the terminal received.
#ifndef VELA_HARNESS_TERMINAL_H
#define VELA_HARNESS_TERMINAL_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "unique_fd.h"

namespace vela::test {

// All members may be used from any thread.
class Terminal {
  public:
    // Opens a new pty pair, 24 rows high. Throws std::system_error.
    explicit Terminal(unsigned short columns);
    ~Terminal() { close(); }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Path of the slave, for the child that gets it as its terminal.
    const std::string &slavePath() const { return slavePath_; }
    // Starts collecting output.
    void startReading();
    // Writes bytes to the terminal as if typed; false once the terminal is closed.
    bool type(std::string_view bytes);
    // A copy of everything received so far.
    std::string output() const;
    // Waits until text appears after the end of the previous match and moves past it:
    // the output from there through text; nullopt on timeout or once the terminal
    // ended without it.
    std::optional<std::string> readUntil(std::string_view text, std::chrono::milliseconds timeout);
    // Waits up to timeout until the slave side has closed and all output is read.
    void waitEnd(std::chrono::milliseconds timeout) const;
    // Hangs up: stops reading and closes the master.
    void close();

  private:
    void readLoop();

    vela::UniqueFd master_;  // written by type(), read by the reader thread
    std::string slavePath_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string output_;  // guarded by mutex_, like the two below
    size_t matchEnd_ = 0;
    bool ended_ = false;
    std::thread reader_;  // started and joined by the owning thread only
};

}  // namespace vela::test

#endif
