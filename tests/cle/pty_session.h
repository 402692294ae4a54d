// Runs the editor's test driver on the slave side of a pty; the test types on the master
// and reads the echo there, and reads the driver's reports from a pipe.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <map>
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
    // (waiting for it), without the NUL markers.
    std::string echo_through(int count);
    // Echo received so far and not yet taken, without the NUL markers.
    std::string take_echo();
    // Echo after the driver stopped writing for a moment (no markers needed).
    std::string take_echo_quiet();
    // Types a key and returns its echo, up to the release of the lock that ends it.
    std::string key(std::string_view bytes);
    // Closes the master: the driver's terminal hangs up.
    void hang_up();
    int master() const { return master_; }
    // Modes of the slave as they are now.
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
    pid_t child_ = -1;
    std::string echo_, reports_;
    size_t report_pos_ = 0;     // start of the first report not yet taken
    bool driver_gone_ = false;  // the report pipe is at its end
    int markers_ = 0;           // NULs received
    int taken_ = 0;             // NULs handed out
    struct termios initial_ {};
};

}  // namespace cle_test
