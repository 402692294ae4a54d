// Test driver: runs the editor on its stdin/stdout (a pty slave) and reports each call
// on fd 3 as "R rc= hex= locks= unlocks= held= typing= session= import= canon= errs=".
// With --callbacks, every release of the output lock writes a NUL to stdout, so that the
// test knows when the echo of a key is complete (a VT100 ignores NUL); errs counts lock
// calls out of pairs, tags and typing reports made without the lock.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cle.h"

namespace {

std::mutex out_mutex;                             // stands for the shell's output mutex
int depth = 0, locks = 0, unlocks = 0, errs = 0;  // guard: out_mutex's owner (main thread)
std::string typing;                               // guard: main thread only
bool markers = false;                             // guard: set before the editor runs

void lock_cb(int lock, char *tag) {
    if (tag != nullptr) ++errs;
    if (lock != 0) {
        out_mutex.lock();
        if (depth++ != 0) ++errs;
        ++locks;
        return;
    }
    if (--depth != 0) ++errs;
    ++unlocks;
    if (markers) {
        std::fputc('\0', stdout);
        std::fflush(stdout);
    }
    out_mutex.unlock();
}

void inline_cb(int state) {
    if (depth != 1) ++errs;  // a writer waiting for the lock must see the report at once
    typing += state != 0 ? '1' : '0';
}

void report(const std::string &line) {
    (void)!write(3, line.data(), line.size());
}

std::string hex(const char *s) {
    std::string out;
    char two[3];
    for (; *s != '\0'; ++s) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(*s));
        out += two;
    }
    return out.empty() ? "-" : out;
}

}  // namespace

int main(int argc, char **argv) {
    const char *prompt = nullptr, *print_after = nullptr;
    int max_len = 511, calls = 1, idle = 0, input_fd = -1;
    bool callbacks = false, record = false, import = false, bg_printer = false, refresh = false;
    std::vector<std::string> history;
    const std::map<std::string, std::function<void(const char *)>> with_value = {
        {"--prompt", [&](const char *v) { prompt = v; }},
        {"--max", [&](const char *v) { max_len = std::atoi(v); }},
        {"--calls", [&](const char *v) { calls = std::atoi(v); }},
        {"--idle", [&](const char *v) { idle = std::atoi(v); }},
        {"--input-fd", [&](const char *v) { input_fd = std::atoi(v); }},
        {"--history", [&](const char *v) { history.push_back(v); }},
        // Printed to stdout after each call and left in the stdio buffer, as the shell may.
        {"--print-after", [&](const char *v) { print_after = v; }},
    };
    const std::map<std::string, std::function<void()>> flags = {
        {"--callbacks", [&] { callbacks = markers = true; }},
        {"--locks", [&] { callbacks = true; }},  // the callbacks without the NUL markers
        {"--record", [&] { record = true; }},
        {"--import", [&] { import = true; }},
        {"--bg-printer", [&] { bg_printer = true; }},
        {"--refresh", [&] { refresh = true; }},
        {"--ignore-hup", [] { signal(SIGHUP, SIG_IGN); }},  // the editor sees the hang-up
        {"--echo-off", [] { cle_echo_enable(0); }},
        {"--no-cr", [] { cle_no_cr_translation(1); }},
        {"--cr", [] { cle_no_cr_translation(0); }},
        {"--eol-nl-cr", [] { cle_eol_nl_cr(); }},
    };
    for (int i = 1; i < argc; ++i) {
        if (const auto f = flags.find(argv[i]); f != flags.end()) {
            f->second();
        } else if (const auto v = with_value.find(argv[i]); v != with_value.end() && i + 1 < argc) {
            v->second(argv[++i]);
        } else {
            return std::fprintf(stderr, "pty_driver: bad option %s\n", argv[i]), 2;
        }
    }
    if (callbacks) {
        cle_register_sync_callbacks(lock_cb);
        cle_register_inline_callback(inline_cb);
    }
    const int init_rc = cle_init(idle);
    report("I " + std::to_string(init_rc) + "\n");
    if (init_rc != 0) return 1;
    if (input_fd >= 0) dup2(input_fd, 0);
    for (const auto &h : history)
        cle_history_add(h.c_str());
    cle_set_import_state(import ? 1 : 0);

    std::atomic<bool> stop{false};
    std::thread printer;
    if (bg_printer) {
        printer = std::thread([&stop] {
            while (!stop.load()) {
                {
                    std::lock_guard<std::mutex> hold(out_mutex);
                    std::fputs("<bg>", stdout);
                    std::fflush(stdout);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    // Exactly max_len bytes, so that the sanitizers see any write past the room.
    std::vector<char> buffer(max_len > 0 ? static_cast<size_t>(max_len) : 1, 'Z');
    for (int n = 0; n < calls; ++n) {
        const int rc = cle_get_command_line(const_cast<char *>(prompt), buffer.data(), max_len);
        if (rc == 0 && record) cle_history_add(buffer.data());
        if (print_after != nullptr) std::fputs(print_after, stdout);
        struct termios t {};
        tcgetattr(1, &t);
        char tail[256];
        std::snprintf(
            tail, sizeof tail,
            " locks=%d unlocks=%d held=%d typing=%s session=%d import=%d canon=%d errs=%d", locks,
            unlocks, depth, typing.empty() ? "-" : typing.c_str(), cle_did_session_timeout(),
            cle_did_import_timeout(), (t.c_lflag & ICANON) != 0 ? 1 : 0, errs);
        typing.clear();
        report("R rc=" + std::to_string(rc) + " hex=" + (max_len > 0 ? hex(buffer.data()) : "-") +
               tail + "\n");
        if (rc != 0 && cle_did_import_timeout() == 0) break;
        if (rc != 0) cle_set_import_state(0);  // the shell ends a timed-out import
    }
    if (refresh) report("F " + std::to_string(cle_refresh_line()) + "\n");
    stop.store(true);
    if (printer.joinable()) printer.join();
    report("C " + std::to_string(cle_cleanup()) + "\n");
    return 0;
}
