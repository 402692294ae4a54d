// The live system log of telnet sessions: a thread that receives every log line from
// syslogd and shows those that pass the user's show and cull filters, and the commands
// that set the filters and the layout.
#pragma once

#include <stddef.h>

constexpr int kFilterSlots = 10;
constexpr size_t kFilterRoom = 256;  // a filter holds at most 255 characters

// Empties every show and cull filter. Main thread, before the log reader starts.
void clear_log_filters();

// Thread body: shows the system log live, filtered and laid out as the user chose.
void *logReaderThread(void *args);

// The pid of the process named name (as /proc/PID/stat gives it), or -1.
int find_pid(const char *name);

// Whether a received line is shown, and how (pure; the caller holds the filters' lock).
// Writes the shown text into out (room for out_size bytes) and returns true, or returns
// false for a line the filters drop.
bool format_log_line(const char *line, char *out, size_t out_size);

// Commands: "log", "log format", "show", "cull". Main thread.
void log_cmd(int argc, char **argv);
void log_format_cmd(int argc, char **argv);
void log_show_cmd(int argc, char **argv);
void log_cull_cmd(int argc, char **argv);
