#include "pty_session.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
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
    if (o.bg_printer)
        std::thread([] {
            for (;; usleep(1000)) {
                std::lock_guard<std::mutex> hold(out_mutex);
                (void)!write(1, "<bg>", 4);
            }
        }).detach();
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

constexpr auto kPatience = std::chrono::seconds(10);

}  // namespace

PtySession::PtySession(const PtyOptions &o)
    : pty_(vela::test::Terminal::Pty{.columns = o.cols, .rawOutput = o.raw_output}), reports_([&] {
          check(pipe(report_pipe_) == 0, "pipe");
          return vela::UniqueFd(report_pipe_[0]);
      }()) {
    check(tcgetattr(pty_.fd(), &initial_) == 0, "terminal modes");
    int keys[2] = {-1, -1};
    check(!(o.piped_keys || o.input != nullptr) || pipe(keys) == 0, "pipe");
    std::fflush(nullptr);  // or the child would write out the test's buffered output too
    pty_.start([&] {
        for (int fd = 3; fd < 256; ++fd)  // the masters and pipe ends of every session
            if (fd != report_pipe_[1] && fd != keys[0]) close(fd);
        run_editor(o, report_pipe_[1], keys[0]);
    });
    close(report_pipe_[1]);
    if (keys[0] >= 0) {
        close(keys[0]);
        // Each write of up to a pipe's capacity reaches the editor as one read.
        keys_.emplace(vela::UniqueFd(keys[1]));
    }
    if (o.input != nullptr) {
        type(o.input);
        keys_.reset();  // the end of input
    }
    EXPECT_EQ(report().text, "I 0 0 - 0 0 0 0 ");
}

void PtySession::type(std::string_view bytes) {
    check((keys_ ? *keys_ : pty_).type(bytes, kPatience), "typing stalled");
}

Report PtySession::report() {
    std::optional<std::string> text;
    const auto deadline = vela::test::Clock::now() + kPatience;
    while (!(text = reports_.readUntil("\n", std::chrono::milliseconds(20)))) {
        check(!reports_.waitEnd(std::chrono::milliseconds(0)), "the child is gone");
        check(vela::test::Clock::now() < deadline, "no report from the child");
        pty_.readSome(vela::test::Clock::now());  // the child may wait for room for its echo
    }
    Report r;
    r.text = text->substr(0, text->size() - 1);
    char typing[32] = "-";  // as reported when nothing was typed
    int used = 0;
    std::sscanf(r.text.c_str(), "%c %d %d %31s %d %d %d %d%n", &r.tag, &r.rc, &r.marks, typing,
                &r.session, &r.import, &r.canon, &r.errs, &used);
    r.typing = typing[0] == '-' ? "" : typing;
    r.line = r.text.substr(std::min(r.text.size(), static_cast<size_t>(used) + 1));
    return r;
}

std::string PtySession::echo_until(std::string_view text) {
    std::optional<std::string> echo = pty_.readUntil(text, kPatience);
    check(echo.has_value(), "echo incomplete");
    std::erase(*echo, '\0');
    return *echo;
}

std::string PtySession::echo_through(int marks) {
    std::string echo;
    for (; taken_ < marks; ++taken_)
        echo += echo_until(std::string_view("", 1));
    return echo;
}

}  // namespace cle_test
