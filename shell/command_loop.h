// The command loop: reads a line at a time and hands it to the import, the quit and
// reboot handling, the local commands or the application; then ends the session.
// Main thread.
#pragma once

struct LoopState;
struct Session;

// Runs the session from the first prompt to its end; returns the exit status.
int run_command_loop(Session &session, LoopState &loop);

// Removes leading and trailing bytes 1 to 32 (blanks and control characters).
void clean_line(char *line);
// "!" directly followed by text gets a blank after the "!" (line has room for one more).
void preprocess_legacy_bang_input_cmd(char *line);
