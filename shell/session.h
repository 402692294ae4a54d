// The process-wide objects of one session, each with one owner and one guard:
//
//   config   what the session is; written by start-up on the main thread before any
//            other thread starts, const for everyone afterwards
//   log      the system-log records; thread-safe (names fixed at start-up, an atomic count)
//   output   the terminal output shared with the editor; its own mutex (terminal_output.h)
//   link     the application link; its own mutexes and semaphores (app_link.h)
//   monitor  the live log's filters and layout; under the output mutex (log_monitor.h)
//   authenticated  logged in (or no login needed); written by the main thread, read by
//            the log reader and the termination thread: atomic
//
// main owns the one Session and passes its parts to the threads that use them. It is
// never destroyed: helper threads are never joined and may run until the process is
// gone, through main's return and the static destructors after it.
#pragma once

#include <atomic>

#include "app_link.h"
#include "log_monitor.h"
#include "session_config.h"
#include "system_log.h"
#include "terminal_output.h"

struct Session {
    SessionConfig config;
    SessionLog log;
    TerminalOutput output;
    AppLink link{log};
    LogMonitor monitor;
    std::atomic<bool> authenticated{false};
};

// The state of the command loop and the login before it: main thread only.
struct LoopState {
    CommandMode mode = CommandMode::kNormal;  // how lines for the application are framed
    bool echo = true;                         // the editor echoes
    bool prompt_enabled = true;               // the "prompt" setting (shown, not used)
    bool reboot_asked = false;                // the answer to the reboot question is next
    bool end_now = false;                     // "exit" with words: clean up and end at once
    char user[64] = "";                       // the user name of the session
};

// What a local command works with.
struct CommandContext {
    Session &session;
    LoopState &loop;
    const SessionConfig &config() const { return session.config; }
    const SessionLog &log() const { return session.log; }
    AppLink &link() const { return session.link; }
};
