// The shell's local commands and the dispatcher that finds them. Main thread.
#pragma once

struct CommandContext;

// One row of a local command table.
typedef struct ShellCommandS {
    const char *command;  // compared exactly with the first word
    void (*command_handler)(CommandContext &context, int argc, char **argv);  // argv[0]: the word
    int anySession;  // non-zero: local in every command mode
} ShellCommandT;

// Runs line as a local command when one matches in the current command mode. True when
// the line was dealt with here (run, a comment, or invalid); false when it is for the
// application. The line is not modified.
bool process_command(CommandContext &context, const char *line);
