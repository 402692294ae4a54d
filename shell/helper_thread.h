// Starting the shell's helper threads: detached (never joined; they end with the
// process) and with a stack sized for what they use rather than the default 8 MiB.
#pragma once

// Starts body(arg) on a new detached thread; false when it cannot be started.
bool start_helper_thread(void *(*body)(void *), void *arg);
