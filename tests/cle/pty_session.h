// Runs the editor in a child process on the slave side of a pty: the test types on the
// master and reads the echo there; the child reports each call through a pipe. Plus the
// checks the editor's tests share. Test thread only.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include <utility>
#include <vector>
#include "terminal.h"

namespace cle_test {

// How the child sets up and calls the editor, and the terminal it gets.
struct PtyOptions {
    const char *prompt = nullptr;
    int max_len = 511, calls = 1, idle = 0;
    std::vector<std::string> history = {};  // added after cle_init, oldest first
    void (*setup)() = nullptr;              // before cle_init: the switches, signals
    bool callbacks = true;                  // the lock and typing callbacks
    bool record = false;                    // lines ended with Enter go into the history
    bool import = false;                    // an import is in progress at the first call
    bool bg_printer = false;                // another thread prints "<bg>" under the lock
    bool refresh = false;                   // cle_refresh_line after the last call
    const char *print_after = nullptr;      // after each call, left in stdio's buffer
    unsigned short cols = 80;
    bool raw_output = true;  // OPOST off on the slave, so the echo arrives untranslated
    // Keys through a pipe instead of the terminal: each type() of up to 4096 bytes then
    // reaches the editor as one burst (one read), whatever the pty would make of it.
    bool piped_keys = false;
    const char *input = nullptr;  // or these keys from a pipe, and then the end of input
};

// One report of the child: 'I' after cle_init, 'R' after each call, 'F' after the
// refresh, 'C' after cle_cleanup, with the state at that moment.
struct Report {
    char tag = 0;
    int rc = 0, marks = 0;        // marks: NULs written to the terminal so far (see PtySession)
    std::string typing;           // the typing reports since the last report, e.g. "10"
    int session = 0, import = 0;  // the time-out flags
    int canon = 0;                // ICANON set on the terminal
    int errs = 0;  // lock calls out of pairs or with a tag, typing reports without the lock
    std::string line, text;  // the buffer ('R' only); the report as sent
};

// The child writes a NUL to the terminal (a VT100 ignores it) at every release of the
// output lock, after each call when it has no callbacks, and after the refresh: the echo
// up to a NUL is complete once the NUL has arrived.
class PtySession {
  public:
    explicit PtySession(const PtyOptions &options);  // and expects the 'I 0' report

    // Writes bytes on the terminal (or the keys' pipe), reading the echo meanwhile.
    void type(std::string_view bytes);
    // Waits for the next report.
    Report report();
    // The echo not yet taken up to the marks-th NUL in all (waiting for it), without NULs.
    std::string echo_through(int marks);
    // The echo not yet taken through text (waiting for it), without NULs.
    std::string echo_until(std::string_view text);
    // Types a key and returns its echo, up to the release of the lock that ends it.
    std::string key(std::string_view bytes) {
        type(bytes);
        return echo_through(taken_ + 1);
    }
    // The child's terminal: its master, hung up to hang the child's up.
    vela::test::Terminal &terminal() { return pty_; }
    termios initial_modes() const { return initial_; }
    termios slave_modes() const {
        termios t{};
        tcgetattr(pty_.fd(), &t);  // on a pty's master, the modes are those of the slave
        return t;
    }

  private:
    vela::test::Terminal pty_;  // the child's terminal
    int report_pipe_[2] = {-1, -1};
    vela::test::Terminal reports_;              // the child's reports, one line each
    std::optional<vela::test::Terminal> keys_;  // the write end of the keys' pipe, if any
    int taken_ = 0;                             // NULs taken
    termios initial_{};
};

// A returned line, with the lock bookkeeping.
inline void expect_line(const Report &r, int rc, const std::string &line) {
    EXPECT_EQ(std::tuple(r.tag, r.rc, r.line, r.errs), std::tuple('R', rc, line, 0)) << r.text;
}

}  // namespace cle_test
