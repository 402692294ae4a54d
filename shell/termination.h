// The end of a session by a hang-up of its terminal (SIGHUP), by SIGTERM, or by SIGINT
// (Ctrl-C at the login prompts, before the editor takes the terminal's signal keys).
//
// These signals are blocked in every thread of the shell and taken by one thread that
// waits for them. A hang-up may come while the main thread waits for a reply that never
// comes, so that thread does not depend on replies: it sends what withdraws the session
// (the secure profile's logout, the cleared client-address setting, "U"; each only if
// the main thread has not sent it) and gives their replies at most a second, logs "End
// of session" in mirrored sessions, restores the terminal modes found at start-up and
// ends the process by the same signal. An alarm bounds all of it: the process is gone
// at most kFarewellSeconds after the signal, whatever the application does.
#pragma once

constexpr unsigned kFarewellSeconds = 5;

struct Session;

// Saves the terminal modes, blocks the three signals and starts the thread. Main
// thread, once the session's configuration is complete and before any other thread is
// started.
void start_termination_thread(Session &session);
