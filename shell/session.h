// Process-wide state of one shell session, in one place.
//
// Every variable says who writes it and what guards it. Three classes:
//  - start-up values: written on the main thread before any other thread starts and
//    never changed afterwards, so other threads read them freely;
//  - main-thread values: touched by the main thread only;
//  - shared values: each with its guard (async_stdout_mut, an atomic, or a semaphore).
#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>

#include <atomic>

#include "shell_io.h"
#include "xcom.h"

// ---- Start-up values (main thread, before other threads; read-only afterwards) ----
extern char host_name[128];                      // XCOM peer host
extern int host_port;                            // XCOM peer port
extern char session_type[20];                    // "telnet", "api" or "api-serial"
extern char tty_name[80];                        // terminal device on descriptor 1
extern const char *newline_string;               // line end of shell_println
extern const char *const serial_newline_string;  // "\r\n"
extern int gbPrintToSysLog;                      // mirror input and output to the system log
extern int inDoDMode;                            // secure profile "DoD DSN" is on
extern int no_banner;                            // "--nobanner"
extern int wait_to_start;                        // "--wait"
extern int view_only_mode;                       // "--logviewer"
extern int bDevMode;                             // telnet session: live log display
extern int idleTimeout;                          // idle limit in minutes, 0 for none
extern char current_user[64];                    // setting "adminuserid"
extern char current_pwd[64];                     // setting "sw"; only its emptiness is used
extern char securityBanner[2048];                // setting "securitybanner"
extern char enableSecureProfile[256];
extern char strIdleTimeout[16];
extern char eolConfig[256];
extern char baseDirFileName[128];  // the import file path

// ---- Main-thread values ----
extern const char *cmd_fmt;            // forwarding format: "C: %s", "E: %s" or "D: %s"
extern int cmdecho_state;              // the editor echoes typed characters
extern int did_registration;           // negative replies are reported from now on
extern char cmdbuff[512];              // the current command line
extern char user[64];                  // user name of the session
extern pthread_t threadReader;         // the log reader thread
extern pthread_t apiAsyncEventReader;  // the API event reader thread

// ---- Shared between threads ----
// The output lock: held around every print into and flush of stdout_shio, by the
// editor while it draws, and around waitingOnResponse and cmdResult.
extern pthread_mutex_t async_stdout_mut;
extern ShellIOT *stdout_shio;  // guarded by async_stdout_mut
extern int waitingOnResponse;  // guarded by async_stdout_mut
extern char cmdResult[512];    // guarded by async_stdout_mut; ordered by sem_result
// Posted once per application reply and once when the link ends (app_link).
extern sem_t response_sem;
// Ready tokens of the command loop.
extern sem_t input_ready_sem;
// The XCOM connection. Written by the main thread under link_mut (app_link.cpp), which
// every user holds; the termination thread holds it for good once the session ends.
extern HXCOM hclient;
// The one result line of a login or logout request.
extern sem_t sem_result;
// 1 while the user is typing a line; set by the editor's typing report on the main
// thread (outside the output lock), read by the background writers: atomic.
extern std::atomic<int> cle_inline;
// 1 once logged in; written by the main thread, read by the log reader: atomic.
extern std::atomic<int> authenticated;
// Non-empty command lines so far; written by the main thread, read by every system-log
// writer: atomic.
extern std::atomic<int> gnCount;
// The API listener socket; -1 when there is none or its reader gave up. Written by the
// main thread at registration and by the reader when it ends: atomic.
extern std::atomic<int> api_async_event_fd;
// Set by the SIGUSR1 handler, polled by the main thread.
extern volatile sig_atomic_t debug_sig_continue;
