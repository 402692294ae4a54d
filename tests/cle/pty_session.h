// Runs the editor's test driver on the slave side of a pty: the test types on the master
// and reads the echo there, and reads the driver's reports from a pipe. Plus the checks
// the editor's tests share. Test thread only.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <termios.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cle_test {

struct PtyOptions {
    std::vector<std::string> args;  // driver options
    unsigned short cols = 80;
    bool fastclock = false;  // driver built with the short minute
    bool raw_output = true;  // clear OPOST on the slave, so the echo arrives untranslated
    bool icrnl = true;       // leave ICRNL on the slave (the editor keeps it unless no-CR)
    int input_fd = -1;       // handed to the driver as fd 4 (see --input-fd 4)
    // Keys through a pipe instead of the terminal: each type() of up to 4096 bytes then
    // reaches the editor as one burst (one read), whatever the pty would make of it.
    bool piped_input = false;
};

// One report line of the driver: its tag ('I', 'R' or 'C') and key=value fields.
struct Report {
    char tag = 0;
    std::map<std::string, std::string> fields;
    std::string text;  // the line as sent
    int num(const std::string &key) const { return std::stoi(fields.at(key)); }
    std::string line() const;  // the buffer, decoded from hex
};

class PtySession {
  public:
    explicit PtySession(PtyOptions options);
    ~PtySession();
    PtySession(const PtySession &) = delete;
    PtySession &operator=(const PtySession &) = delete;

    // Writes bytes on the master, reading the echo meanwhile.
    void type(std::string_view bytes);
    // Waits for the next report line.
    Report report();
    // Echo not yet taken up to the driver's `count`th release of the output lock in all
    // (waiting for it), without the NUL markers the driver writes at each release.
    std::string echo_through(int count);
    // The next n bytes of echo (waiting for them), without the NUL markers.
    std::string echo_bytes(size_t n);
    // Echo received so far and not yet taken, after the driver stopped writing for a
    // moment when quiet, without the NUL markers.
    std::string take_echo(bool quiet = false);
    // Types a key and returns its echo, up to the release of the lock that ends it.
    std::string key(std::string_view bytes) {
        type(bytes);
        return echo_through(taken_ + 1);
    }
    // Closes the master: the driver's terminal hangs up.
    void hang_up();
    int master() const { return master_; }
    struct termios slave_modes() const;
    struct termios initial_modes() const {
        return initial_;
    }
    // Waits for the driver to exit; its exit status.
    int wait_exit();

  private:
    // One poll round (also for room to type when writing); false when nothing came.
    bool pump(int timeout_ms, bool writing = false);
    int master_ = -1, slave_ = -1, report_fd_ = -1;
    int keys_pipe_ = -1;  // write end of the keys' pipe with piped_input, else -1
    pid_t child_ = -1;
    std::string echo_, reports_;
    size_t report_pos_ = 0;     // start of the first report not yet taken
    bool driver_gone_ = false;  // the report pipe is at its end
    int markers_ = 0;           // NULs received
    int taken_ = 0;             // NULs handed out
    struct termios initial_ {};
};

// Starts the driver and checks that the editor took the terminal.
inline std::unique_ptr<PtySession> start(PtyOptions o) {
    auto s = std::make_unique<PtySession>(std::move(o));
    EXPECT_EQ(s->report().text, "I 0");
    return s;
}

// One key and the exact echo it must produce.
struct Step {
    std::string keys, echo;
};

// Types each step's keys and checks its echo; text of the driver's other thread may
// only come before an echo, never inside it.
inline void run_steps(PtySession &s, const std::vector<Step> &steps) {
    for (const Step &step : steps) {
        std::string echo = s.key(step.keys);
        while (echo.rfind("<bg>", 0) == 0)
            echo.erase(0, 4);
        EXPECT_EQ(testing::PrintToString(echo), testing::PrintToString(step.echo))
            << "keys " << testing::PrintToString(step.keys);
    }
}

// A returned line, checked with the driver's lock bookkeeping.
inline void expect_line(const Report &r, int rc, const std::string &line) {
    EXPECT_EQ(r.tag, 'R') << r.text;
    EXPECT_EQ(r.num("rc"), rc) << r.text;
    EXPECT_EQ(r.line(), line) << r.text;
    EXPECT_EQ(r.num("held"), 0) << r.text;
    EXPECT_EQ(r.num("locks"), r.num("unlocks")) << r.text;
    EXPECT_EQ(r.num("errs"), 0) << r.text;
}

// The terminal is as the editor found it.
inline void expect_restored(const PtySession &s) {
    const struct termios a = s.slave_modes(), b = s.initial_modes();
    EXPECT_EQ(a.c_lflag, b.c_lflag);
    EXPECT_EQ(a.c_iflag, b.c_iflag);
    EXPECT_EQ(a.c_oflag, b.c_oflag);
    EXPECT_EQ(0, memcmp(a.c_cc, b.c_cc, sizeof a.c_cc));
}

}  // namespace cle_test
