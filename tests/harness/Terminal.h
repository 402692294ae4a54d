// The test's side of a pty or of a connection: what it types and everything it received.
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
    // Reads stream (a pty's master, a socket) from now on until it ends.
    explicit Terminal(vela::UniqueFd stream);
    ~Terminal() { hangUp(); }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Writes bytes as if typed; false once the stream is closed.
    bool type(std::string_view bytes);
    // A copy of everything received so far.
    std::string output() const;
    // Waits until text appears after the end of the previous match and moves past it:
    // the output from there through text; nullopt on timeout or once the terminal
    // ended without it. Waits last VELA_TEST_TIME_SCALE times longer when that is set.
    std::optional<std::string> readUntil(
        std::string_view text, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool waitFor(std::string_view text,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return readUntil(text, timeout).has_value();
    }
    // Waits up to timeout (scaled) until the other side has closed and all is read.
    bool waitEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Hangs up: stops reading and closes the stream.
    void hangUp();

  protected:
    int stream() const { return stream_.get(); }

  private:
    void readLoop();

    vela::UniqueFd stream_;  // written by type(), read by the reader thread
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string output_;  // guarded by mutex_, like the two below
    size_t matchEnd_ = 0;
    bool ended_ = false;
    std::thread reader_;  // joined by the owning thread only
};

}  // namespace vela::test

#endif
