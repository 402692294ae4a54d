// The test's side of a pty: what it types and everything the terminal received.
#ifndef VELA_HARNESS_TERMINAL_H
#define VELA_HARNESS_TERMINAL_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "unique_fd.h"

namespace vela::test {

class Terminal {
  public:
    // Opens a new pty pair with the given window size. Throws std::system_error.
    Terminal(unsigned short rows, unsigned short columns);
    ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Path of the slave, for the child that gets it as its terminal.
    const std::string &slavePath() const { return slavePath_; }
    // Starts collecting output; call after the child has opened the slave.
    void startReading();

    // Writes bytes to the terminal as if typed; false once the terminal is closed.
    bool type(std::string_view bytes);
    // Sets the window size (the foreground process group gets SIGWINCH).
    void resize(unsigned short rows, unsigned short columns);
    // A copy of everything received so far.
    std::string output() const;
    // Waits until the output after position from contains text; the end of the match,
    // or npos on timeout.
    size_t waitFor(std::string_view text, size_t from, std::chrono::milliseconds timeout) const;
    // Waits up to timeout until the slave side has closed and all output is read.
    bool waitEnd(std::chrono::milliseconds timeout) const;
    // Hangs up: stops reading and closes the master.
    void close();

    // All members may be used from any thread.
  private:
    void readLoop();

    vela::UniqueFd master_;     // written by type(), read by the reader thread
    vela::UniqueFd stopRead_;   // the reader's end of the stop pipe
    vela::UniqueFd stopWrite_;  // written once to stop the reader
    std::string slavePath_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string output_;  // guarded by mutex_
    bool ended_ = false;  // guarded by mutex_
    std::thread reader_;  // started and joined by the owning thread only
};

}  // namespace vela::test

#endif
