#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace cle_test {
namespace {

void check(bool ok, const char *what) {
    if (!ok) throw std::runtime_error(what);
}

// Calls step until it returns true; throws after ten seconds.
template <class Step>
void patiently(const char *what, Step step) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!step())
        check(std::chrono::steady_clock::now() < deadline, what);
}

}  // namespace

std::string Report::line() const {
    const std::string &h = fields.at("hex");
    std::string out;
    for (size_t i = 0; h != "-" && i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

PtySession::PtySession(PtyOptions o) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    check(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0, "pty");
    struct winsize ws {};
    ws.ws_col = o.cols;
    ws.ws_row = 24;
    check(ioctl(master_, TIOCSWINSZ, &ws) == 0, "TIOCSWINSZ");
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    check(slave_ >= 0 && tcgetattr(slave_, &initial_) == 0, "slave");
    if (o.raw_output) initial_.c_oflag &= ~OPOST;
    if (!o.icrnl) initial_.c_iflag &= ~ICRNL;
    check(tcsetattr(slave_, TCSANOW, &initial_) == 0, "slave modes");
    if (o.piped_input) {
        int keys[2];
        check(pipe2(keys, O_CLOEXEC) == 0, "keys pipe");
        keys_pipe_ = keys[1];
        fcntl(keys_pipe_, F_SETFL, O_NONBLOCK);
        o.input_fd = keys[0];
        o.args.insert(o.args.end(), {"--input-fd", "4"});
    }
    int pipe_fds[2];
    check(pipe(pipe_fds) == 0, "pipe");
    report_fd_ = pipe_fds[0];
    fcntl(master_, F_SETFL, O_NONBLOCK);

    const std::string driver = o.fastclock ? CLE_PTY_DRIVER_FAST : CLE_PTY_DRIVER;
    std::vector<char *> argv{const_cast<char *>(driver.c_str())};
    for (auto &a : o.args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    child_ = fork();
    check(child_ >= 0, "fork");
    if (child_ == 0) {
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);
        // Out of the way first: any of them may sit on a descriptor number wanted below.
        const int tty = fcntl(slave_, F_DUPFD, 100), rep = fcntl(pipe_fds[1], F_DUPFD, 100);
        const int in = o.input_fd >= 0 ? fcntl(o.input_fd, F_DUPFD, 100) : -1;
        dup2(tty, 0);
        dup2(tty, 1);
        dup2(rep, 3);
        if (in >= 0) dup2(in, 4);
        for (int fd = in >= 0 ? 5 : 4; fd < 128; ++fd)
            close(fd);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    if (o.piped_input) close(o.input_fd);
}

PtySession::~PtySession() {
    if (child_ > 0) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    for (int fd : {master_, slave_, report_fd_, keys_pipe_})
        if (fd >= 0) close(fd);
}

bool PtySession::pump(int timeout_ms, bool writing) {
    const short master_events = writing ? POLLIN | POLLOUT : POLLIN;
    struct pollfd p[2] = {{master_, master_events, 0}, {report_fd_, POLLIN, 0}};
    if (poll(p, 2, timeout_ms) <= 0) return false;
    char buf[65536];
    bool got = false;
    if (master_ >= 0 && (p[0].revents & POLLIN) != 0) {
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) {
            echo_.append(buf, static_cast<size_t>(n));
            markers_ += static_cast<int>(std::count(buf, buf + n, '\0'));
            got = true;
        }
    }
    if ((p[1].revents & (POLLIN | POLLHUP)) != 0) {
        const ssize_t n = read(report_fd_, buf, sizeof buf);
        if (n > 0) reports_.append(buf, static_cast<size_t>(n));
        driver_gone_ = n <= 0;
        got = got || n > 0;
    }
    return got;
}

void PtySession::type(std::string_view bytes) {
    patiently("typing stalled", [&] {
        const ssize_t n = write(keys_pipe_ >= 0 ? keys_pipe_ : master_, bytes.data(), bytes.size());
        if (n > 0) bytes.remove_prefix(static_cast<size_t>(n));
        return bytes.empty() || (pump(5, true), false);
    });
}

Report PtySession::report() {
    size_t eol;
    patiently("no report from the driver", [&] {
        if ((eol = reports_.find('\n', report_pos_)) != std::string::npos) return true;
        check(!driver_gone_, "the driver is gone");
        return pump(50), false;
    });
    Report r;
    r.text = reports_.substr(report_pos_, eol - report_pos_);
    report_pos_ = eol + 1;
    std::istringstream in(r.text);
    std::string word;
    in >> r.tag;
    while (in >> word) {
        const auto eq = word.find('=');
        r.fields[eq == std::string::npos ? "rc" : word.substr(0, eq)] =
            eq == std::string::npos ? word : word.substr(eq + 1);
    }
    return r;
}

std::string PtySession::echo_through(int count) {
    patiently("echo incomplete", [&] { return markers_ >= count || (pump(50), false); });
    size_t end = 0;
    for (; taken_ < count; ++end)
        if (echo_[end] == '\0') ++taken_;
    std::string out;
    std::remove_copy(echo_.begin(), echo_.begin() + end, std::back_inserter(out), '\0');
    echo_.erase(0, end);
    return out;
}

std::string PtySession::echo_bytes(size_t n) {
    std::string out;
    size_t end = 0;
    patiently("echo incomplete", [&] {
        for (; end < echo_.size() && out.size() < n; ++end)
            if (echo_[end] != '\0') out += echo_[end];
        return out.size() == n || (pump(50), false);
    });
    taken_ += static_cast<int>(std::count(echo_.begin(), echo_.begin() + end, '\0'));
    echo_.erase(0, end);
    return out;
}

std::string PtySession::take_echo(bool quiet) {
    while (quiet && pump(100)) {
    }
    taken_ += static_cast<int>(std::count(echo_.begin(), echo_.end(), '\0'));
    std::string out;
    std::remove_copy(echo_.begin(), echo_.end(), std::back_inserter(out), '\0');
    echo_.clear();
    return out;
}

void PtySession::hang_up() {
    close(master_);
    master_ = -1;
}

struct termios PtySession::slave_modes() const {
    struct termios t {};
    tcgetattr(slave_, &t);
    return t;
}

int PtySession::wait_exit() {
    int status = 0;
    patiently("driver did not exit",
              [&] { return waitpid(child_, &status, WNOHANG) != 0 || (pump(20), false); });
    child_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace cle_test
