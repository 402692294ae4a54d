// The live system log of telnet sessions: a thread that receives every log line from
// syslogd and shows those that pass the user's show and cull filters, and the commands
// that set the filters and the layout.
#pragma once

#include <stddef.h>

class OutputGuard;
class SessionLog;
struct CommandContext;
struct Session;

constexpr int kFilterSlots = 10;
constexpr size_t kFilterRoom = 256;  // a filter holds at most 255 characters

// The filters and the layout. Written by the commands on the main thread, read by the
// monitor thread; both hold the output mutex (the monitor holds it anyway while it
// prints), which each member proves with an OutputGuard.
class LogMonitor {
  public:
    void clear_filters(const OutputGuard &);
    // Whether a received line is shown, and how: writes the shown text into out (room
    // for out_size bytes) and returns true, or returns false for a line the filters drop.
    bool format_line(const OutputGuard &, const char *line, char *out, size_t out_size) const;

    void set_layout(const OutputGuard &, bool date, bool time, bool level);
    // A copy of the show (true) or cull filters.
    void copy_filters(const OutputGuard &, bool show, char (&out)[kFilterSlots][kFilterRoom]) const;
    // Puts filter into the first free slot (none free: dropped).
    void add_filter(const OutputGuard &, bool show, const char *filter);
    // Frees the first slot holding filter.
    void delete_filter(const OutputGuard &, bool show, const char *filter);
    void delete_all(const OutputGuard &, bool show);

  private:
    using Filters = char[kFilterSlots][kFilterRoom];
    Filters &table(bool show) { return show ? show_ : cull_; }
    const Filters &table(bool show) const { return show ? show_ : cull_; }

    Filters show_ = {};
    Filters cull_ = {};
    bool date_ = true, time_ = true, level_ = true;
};

// Starts the monitor thread of the session; false when it cannot be started. Main
// thread, once the filters are empty.
bool start_log_monitor(Session &session);

// The pid of the process named name (as /proc/PID/stat gives it), or -1 (after a
// message when the process table cannot be read).
int find_pid(const SessionLog &log, const char *name);

// Commands: "log", "log format", "show", "cull". Main thread.
void log_cmd(CommandContext &context, int argc, char **argv);
void log_format_cmd(CommandContext &context, int argc, char **argv);
void log_show_cmd(CommandContext &context, int argc, char **argv);
void log_cull_cmd(CommandContext &context, int argc, char **argv);
