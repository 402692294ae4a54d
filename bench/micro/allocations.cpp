// vela_bench_alloc: heap allocations per line in steady state, counted by interposing
// malloc (tests/support/alloc_counter), with the shell's own code doing the work:
//   line-reader       socket_read_line handing out lines held in its buffer
//   flush, flush-cr   shell_io_printf and shell_io_flush of one line, without and with CR
//   event-reader      the API event reader thread: listener datagram to terminal
//   event-reader-api  the same, each line also mirrored to the system log (api sessions)
//   log-monitor       the log monitor thread with 10 show and 10 cull filters
//   editor            cle_get_command_line and cle_history_add on a pty, as the loop reads
// Usage: vela_bench_alloc --case NAME --results FILE [--quick]. The event reader and the log
// monitor need the simulated device (syslogd, /tmp); one case per process.
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "Datagrams.h"
#include "Figure.h"
#include "RawLink.h"
#include "alloc_counter.h"
#include "api_event_reader.h"
#include "cle.h"
#include "libxcom.h"
#include "log_monitor.h"
#include "sender_filter.h"
#include "session.h"
#include "shell_io.h"

namespace {

using namespace vela::bench;
using test_support::allocation_count;

struct Counts {
    size_t warmup;
    size_t measured;
};

// Allocations per unit of work: warmup units first, then measured ones, counted.
double perUnit(const Counts &counts, const std::function<void(size_t)> &work) {
    work(counts.warmup);
    const size_t before = allocation_count();
    work(counts.measured);
    return static_cast<double>(allocation_count() - before) / static_cast<double>(counts.measured);
}

// ---- the line reader

double lineReader(const Counts &counts) {
    constexpr size_t kLine = 16, kLinesPerChunk = 64;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
    static char chunk[kLine * kLinesPerChunk];
    for (size_t i = 0; i < kLinesPerChunk; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "line %010zu\n", i);  // kLine bytes
        std::memcpy(chunk + i * kLine, text, kLine);
    }
    static char held[XCOM_READ_BUFFER_SIZE], line[XCOM_LINE_BUFFER_SIZE];
    int buflen = 0;
    bool ok = true;
    auto work = [&](size_t lines) {
        for (size_t done = 0; done < lines; done += kLinesPerChunk) {
            ok = ok && raw::writeAll(fds[1], chunk, sizeof chunk);
            for (size_t i = 0; i < kLinesPerChunk; ++i)
                ok = ok && socket_read_line(fds[0], held, &buflen, line, 0) == kLine - 1;
        }
    };
    double result = perUnit(counts, work);
    return ok ? result : -1;
}

// ---- the output flush

double flush(const Counts &counts, bool cr) {
    ShellIOT *shio = shell_io_create();
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (shio == nullptr || null < 0) return -1;
    shell_io_bind_fd(shio, null);
    if (cr) shell_io_add_cr(shio);
    const char *line = "event 0000001 of 0100000: call status changed";
    return perUnit(counts, [&](size_t lines) {
        for (size_t i = 0; i < lines; ++i) {
            shell_io_printf(shio, "%s\n", line);
            shell_io_flush(shio);
        }
    });
}

// ---- the shell's background writers, which print into the session's buffered output

// The session of this process, never destroyed (its threads are never joined).
Session &theSession() {
    static Session *session = new Session();
    return *session;
}

// Writes the session's buffered output to a pipe whose reader counts the lines that
// reach it.
class Terminal {
  public:
    explicit Terminal(Session &session) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) std::abort();
        readEnd_ = fds[0];
        session.output.create_mutex();
        session.output.create_buffer(fds[1]);
        std::thread([this] { drain(); }).detach();
    }
    // Waits until lines lines have arrived in all; false after 60 seconds.
    bool waitLines(size_t lines) {
        for (int waited = 0; lines_.load() < lines; ++waited) {
            if (waited > 60000) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

  private:
    void drain() {
        static char buffer[65536];
        for (;;) {
            ssize_t n = read(readEnd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            size_t found = 0;
            for (ssize_t i = 0; i < n; ++i)
                found += buffer[i] == '\n';
            lines_.fetch_add(found);
        }
    }

    int readEnd_;
    std::atomic<size_t> lines_{0};  // lines arrived; written by the drain thread only
};

// Sends batches of lines to path and counts allocations per line once they have arrived.
double throughWriter(const Counts &counts, Terminal &terminal, const std::string &path,
                     size_t length, const char *tag) {
    const LineBatch warm = makeLines(counts.warmup, length, tag, "warm");
    const LineBatch measured = makeLines(counts.measured, length, tag, "done");
    if (!sendBatch(path, warm) || !terminal.waitLines(warm.size())) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // strays of other senders
    const size_t before = allocation_count();
    if (!sendBatch(path, measured) || !terminal.waitLines(warm.size() + measured.size())) return -1;
    const size_t after = allocation_count();
    return static_cast<double>(after - before) / static_cast<double>(measured.size());
}

// A session named after a terminal of its own, as start-up would set it up.
Session &benchSession(SessionType type) {
    Session &session = theSession();
    snprintf(session.config.tty_name, sizeof session.config.tty_name, "/dev/pts/bench%d",
             static_cast<int>(getpid()));
    session.config.type = type;
    session.config.mirrored = type != SessionType::kTelnet;
    session.log.start(session.config.tty_name, session.config.mirrored);
    return session;
}

double eventReader(const Counts &counts, bool mirrored) {
    Session &session = benchSession(mirrored ? SessionType::kApi : SessionType::kTelnet);
    Terminal terminal(session);
    const std::string path = "/tmp/bench-alloc-events-" + std::to_string(getpid());
    int fd = raw::bindDatagram(path.c_str());
    if (fd < 0 || !enable_sender_credentials(fd) ||
        !start_api_event_reader(fd, session.output, session.link, session.log))
        return -1;
    return throughWriter(counts, terminal, path, 50, "event");
}

double logMonitor(const Counts &counts) {
    Session &session = benchSession(SessionType::kTelnet);
    session.authenticated.store(true);
    Terminal terminal(session);
    {
        OutputGuard guard(session.output);
        session.monitor.clear_filters(guard);
    }
    const char *show[] = {"show",    "add",      "sip:",  "h323:", "video:", "audio:",
                          "camera:", "network:", "dhcp:", "ntp:",  "web:",   "zuz:"};
    const char *cull[] = {"cull",   "add",   "keepalive", "heartbeat", "debug-noise", "poll:",
                          "stats:", "snmp:", "upnp:",     "mdns:",     "lldp:",       "watchdog"};
    LoopState loop;
    CommandContext context{session, loop};
    log_show_cmd(context, 12, const_cast<char **>(show));
    log_cull_cmd(context, 12, const_cast<char **>(cull));
    if (!start_log_monitor(session)) return -1;
    const std::string path =
        std::string("/tmp/sysloglisteners/velabench") + std::to_string(getpid());
    return throughWriter(counts, terminal, path, 100, "2026-12-05 19:53:21 info zuz: call status");
}

// ---- the line editor

double editor(const Counts &counts) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0)
        return -1;
    int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0 || dup2(slave, 0) < 0 || dup2(slave, 1) < 0) return -1;
    Session &session = theSession();
    session.output.create_mutex();
    register_editor_callbacks(session.output);
    if (cle_init(0) != 0) return -1;

    static std::string typed;  // read by the typing thread until the process ends
    const size_t total = counts.warmup + counts.measured;
    for (size_t i = 0; i < total; ++i) {
        char command[32];
        std::snprintf(command, sizeof command, "bench-cmd-%010zu\r", i);
        typed += command;
    }
    std::thread([master] {  // the echo
        static char echo[65536];
        while (read(master, echo, sizeof echo) > 0) {
        }
    })
        .detach();
    std::thread([master] { raw::writeAll(master, typed.data(), typed.size()); }).detach();
    bool ok = true;
    double result = perUnit(counts, [&](size_t lines) {
        static char line[512];
        for (size_t i = 0; i < lines; ++i) {
            ok = ok && cle_get_command_line(const_cast<char *>(""), line, 511) == 0;
            cle_history_add(line);
        }
    });
    return ok ? result : -1;
}

struct Case {
    const char *name;
    const char *id;
    const char *what;
    std::function<double(const Counts &)> run;
};

}  // namespace

int main(int argc, char **argv) {
    std::string name, results;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--case" && i + 1 < argc) {
            name = argv[++i];
        } else if (arg == "--results" && i + 1 < argc) {
            results = argv[++i];
        } else if (arg == "--quick") {
            quick = true;
        } else {
            name.clear();
            break;
        }
    }
    const Case cases[] = {
        {"line-reader", "6a", "allocations: line reader (socket_read_line)", lineReader},
        {"flush", "6b", "allocations: output print and flush",
         [](const Counts &c) { return flush(c, false); }},
        {"flush-cr", "6c", "allocations: output print and flush with CR insertion",
         [](const Counts &c) { return flush(c, true); }},
        {"event-reader", "6d", "allocations: API event reader, telnet session",
         [](const Counts &c) { return eventReader(c, false); }},
        {"event-reader-api", "6e", "allocations: API event reader, api session (logged)",
         [](const Counts &c) { return eventReader(c, true); }},
        {"log-monitor", "6f", "allocations: log monitor, 10 show and 10 cull filters", logMonitor},
        {"editor", "6g", "allocations: line editor and history, per typed line", editor},
    };
    const Case *chosen = nullptr;
    for (const Case &c : cases)
        if (name == c.name) chosen = &c;
    if (chosen == nullptr || results.empty()) {
        std::fputs("usage: vela_bench_alloc --case NAME --results FILE [--quick]\n", stderr);
        return 2;
    }
    if (!test_support::alloc_counting_available()) {
        std::fputs("vela_bench_alloc: no counting in a sanitizer build\n", stderr);
        return 1;
    }
    // Steady state: the warm-up fills every buffer and ring before the count starts.
    const Counts counts = quick ? Counts{200, 2000} : Counts{2000, 20000};
    const double perLine = chosen->run(counts);
    Figure figure{chosen->id,
                  chosen->what,
                  "allocs/line",
                  perLine,
                  kNone,
                  "value==0",
                  std::to_string(counts.measured) + " lines after " +
                      std::to_string(counts.warmup) + " of warm-up",
                  CpuFigure{}};  // counted, not timed
    if (perLine < 0) {
        figure.shell = kNone;
        figure.note = "failed: the case could not run";
    }
    appendFigure(results, figure);
    std::_Exit(perLine < 0 ? 1 : 0);  // the shell's threads are never joined
}
