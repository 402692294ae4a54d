// The shell's local commands and the dispatcher that finds them. Main thread.
#pragma once

// One row of a local command table.
typedef struct ShellCommandS {
    const char *command;                             // compared exactly with the first word
    void (*command_handler)(int argc, char **argv);  // argv[0] is the command word
    int anySession;                                  // non-zero: local in every command mode
} ShellCommandT;

// Runs line as a local command when one matches in the current command mode.
// Non-zero when the line was dealt with here (run, a comment, or invalid); 0 when it
// is for the application. The line is not modified.
int process_command(const char *cmd);

// Simple commands of the table.
void test_cmd(int argc, char **argv);
void repeat_cmd(int argc, char **argv);
void api_cmd(int argc, char **argv);
void apicmds_cmd(int argc, char **argv);
void cmdecho_cmd(int argc, char **argv);
void devcmds_cmd(int argc, char **argv);
void exit_cmd(int argc, char **argv);
void history_cmd(int argc, char **argv);
void prompt_cmd(int argc, char **argv);
void session_cmd(int argc, char **argv);
