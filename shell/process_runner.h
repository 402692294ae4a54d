// Starting the device's tools as child processes, directly (so that no user text is
// ever interpreted by a command interpreter) or, for fixed command lines, through one.
// Main thread.
#pragma once

#include <sys/types.h>

struct SpawnOptions {
    int stdout_fd = -1;                 // descriptor to use as standard output; -1 inherits
    const char *stdout_path = nullptr;  // or a file opened for writing as standard output
    bool search_path = false;           // look argv[0] up on PATH
};

// Starts argv (null-terminated) with every descriptor above 2 closed in the child.
// The child's pid, or -1 with errno set when it cannot be started (including when the
// program cannot be executed: ENOENT, EACCES, ENOEXEC).
pid_t spawn_program(const char *const argv[], const SpawnOptions &options);

// Waits for the child to end, restarting after EINTR; its raw wait status, or -1.
int wait_for_child(pid_t pid);

// Runs command_line through the command interpreter ("/bin/sh -c") and waits for it;
// the raw wait status, or -1 when it cannot be started.
int run_command_line(const char *command_line);
