#include "pty_session.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cle.h"

namespace cle_test {
namespace {

// ---- The child: the editor on the slave, as the shell runs it -------------------------

std::mutex out_mutex;                // stands for the shell's output mutex
int depth = 0, marks = 0, errs = 0;  // guard: out_mutex's owner (the child's main thread)
std::string typing;                  // guard: the child's main thread

void mark() {
    // A terminal set not to block may be full for a moment; a hung-up one takes nothing.
    struct pollfd room = {1, POLLOUT, 0};
    while (write(1, "", 1) < 0 && errno == EAGAIN)
        (void)poll(&room, 1, -1);
    ++marks;
}

void lock_cb(int lock, char *tag) {
    if (tag != nullptr || (lock != 0 && lock != 1)) ++errs;  // the callback's contract: 1 or 0
    if (lock != 0) {
        out_mutex.lock();
        if (depth++ != 0) ++errs;
        return;
    }
    if (--depth != 0) ++errs;
    mark();
    out_mutex.unlock();
}

void typing_cb(int state) {
    if (depth != 1) ++errs;  // a writer waiting for the lock must see the report at once
    typing += state != 0 ? '1' : '0';
}

[[noreturn]] void run_editor(const PtyOptions &o, int report_fd, int keys_fd) {
    const auto report = [&](char tag, int rc, const char *line) {
        if (tag == 'R' && !o.callbacks) mark();
        struct termios t {};
        tcgetattr(1, &t);
        if (depth != 0) ++errs;  // the lock left held
        dprintf(report_fd, "%c %d %d %s %d %d %d %d %s\n", tag, rc, marks,
                typing.empty() ? "-" : typing.c_str(), cle_did_session_timeout(),
                cle_did_import_timeout(), (t.c_lflag & ICANON) != 0 ? 1 : 0, errs, line);
        typing.clear();
    };
    if (o.setup != nullptr) o.setup();
    if (o.callbacks) {
        cle_register_sync_callbacks(lock_cb);
        cle_register_inline_callback(typing_cb);
    }
    const int init_rc = cle_init(o.idle);
    report('I', init_rc, "");
    if (init_rc != 0) _exit(1);
    if (keys_fd >= 0) dup2(keys_fd, 0);
    for (const auto &h : o.history)
        cle_history_add(h.c_str());
    cle_set_import_state(o.import ? 1 : 0);
    if (o.bg_printer) {
        std::thread([] {
            for (;; usleep(1000)) {
                std::lock_guard<std::mutex> hold(out_mutex);
                (void)!write(1, "<bg>", 4);
            }
        }).detach();
    }
    // Exactly max_len bytes, so that the sanitizers see any write past the room.
    std::vector<char> buffer(static_cast<size_t>(o.max_len), 'Z');
    for (int n = 0; n < o.calls; ++n) {
        const int rc = cle_get_command_line(const_cast<char *>(o.prompt), buffer.data(), o.max_len);
        if (rc == 0 && o.record) cle_history_add(buffer.data());
        if (o.print_after != nullptr) std::fputs(o.print_after, stdout);
        report('R', rc, buffer.data());
        if (cle_did_import_timeout() != 0) cle_set_import_state(0);  // as the shell does
    }
    if (o.refresh) {
        // Under the lock, as a caller with a printer must hold it; the NUL ends its echo
        // before the printer can add to it.
        std::unique_lock<std::mutex> hold(out_mutex);
        const int rc = cle_refresh_line();
        mark();
        hold.unlock();
        report('F', rc, "");
    }
    report('C', cle_cleanup(), "");
    _exit(0);
}

// ---- The test's side ---------------------------------------------------------------

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

PtySession::PtySession(const PtyOptions &o) {
    struct winsize ws = {24, o.cols, 0, 0};
    check(openpty(&master_, &slave_, nullptr, nullptr, &ws) == 0, "pty");
    check(tcgetattr(slave_, &initial_) == 0, "slave modes");
    if (o.raw_output) initial_.c_oflag &= ~OPOST;
    check(tcsetattr(slave_, TCSANOW, &initial_) == 0, "slave modes");
    int reports[2], keys[2] = {-1, -1};
    const bool piped = o.piped_keys || o.input != nullptr;
    check(pipe(reports) == 0 && (!piped || pipe(keys) == 0), "pipe");
    std::fflush(nullptr);  // or the child would write out the test's buffered output too
    child_ = fork();
    check(child_ >= 0, "fork");
    if (child_ == 0) {
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);  // its own terminal: hang-ups and window sizes reach it
        dup2(slave_, 0);
        dup2(slave_, 1);
        for (int fd = 3; fd < 256; ++fd)  // the masters and pipe ends of every session
            if (fd != reports[1] && fd != keys[0]) close(fd);
        run_editor(o, reports[1], keys[0]);
    }
    reports_fd_ = reports[0];
    close(reports[1]);
    keys_ = keys[1];
    if (keys[0] >= 0) close(keys[0]);
    for (int fd : {master_, keys_})
        if (fd >= 0) fcntl(fd, F_SETFL, O_NONBLOCK);
    if (o.input != nullptr) {
        type(o.input);
        close(std::exchange(keys_, -1));
    }
    const Report r = report();
    EXPECT_EQ(r.text, "I 0 0 - 0 0 0 0 ");
}

PtySession::~PtySession() {
    if (child_ > 0) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
    for (int fd : {master_, slave_, reports_fd_, keys_})
        if (fd >= 0) close(fd);
}

void PtySession::pump(int timeout_ms) {
    struct pollfd p[2] = {{master_, POLLIN, 0}, {reports_fd_, POLLIN, 0}};
    if (poll(p, 2, timeout_ms) <= 0) return;
    char buf[65536];
    if (master_ >= 0 && (p[0].revents & POLLIN) != 0) {
        const ssize_t n = read(master_, buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\0') mark_at_.push_back(echo_.size());
            if (buf[i] != '\0') echo_ += buf[i];
        }
    }
    if ((p[1].revents & (POLLIN | POLLHUP)) != 0) {
        const ssize_t n = read(reports_fd_, buf, sizeof buf);
        if (n > 0) reports_.append(buf, static_cast<size_t>(n));
        child_gone_ = n <= 0;
    }
}

void PtySession::type(std::string_view bytes) {
    patiently("typing stalled", [&] {
        const ssize_t n = write(keys_ >= 0 ? keys_ : master_, bytes.data(), bytes.size());
        if (n > 0) bytes.remove_prefix(static_cast<size_t>(n));
        return bytes.empty() || (pump(5), false);
    });
}

Report PtySession::report() {
    size_t eol;
    patiently("no report from the child", [&] {
        if ((eol = reports_.find('\n', report_pos_)) != std::string::npos) return true;
        check(!child_gone_, "the child is gone");
        return pump(50), false;
    });
    Report r;
    r.text = reports_.substr(report_pos_, eol - report_pos_);
    report_pos_ = eol + 1;
    std::istringstream in(r.text);
    in >> r.tag >> r.rc >> r.marks >> r.typing >> r.session >> r.import >> r.canon >> r.errs;
    if (r.typing == "-") r.typing.clear();
    in.get();  // the space before the line, which may hold spaces itself
    std::getline(in, r.line);
    return r;
}

std::string PtySession::echo_through(int marks) {
    patiently("echo incomplete",
              [&] { return static_cast<int>(mark_at_.size()) >= marks || (pump(50), false); });
    taken_ = std::max(taken_, marks);
    const size_t end = marks > 0 ? std::max(mark_at_[marks - 1], echo_pos_) : echo_pos_;
    std::string out = echo_.substr(echo_pos_, end - echo_pos_);
    echo_pos_ = end;
    return out;
}

std::string PtySession::echo_bytes(size_t n) {
    patiently("echo incomplete",
              [&] { return echo_.size() - echo_pos_ >= n || (pump(50), false); });
    echo_pos_ += n;
    return echo_.substr(echo_pos_ - n, n);
}

termios PtySession::slave_modes() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
}

}  // namespace cle_test
