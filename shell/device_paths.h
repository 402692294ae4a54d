// Where the shell finds the device's programs and files. Fixed constants: nothing in
// the environment or a file may redirect them (a telnet client can set environment
// variables before it logs in).
#pragma once

namespace paths {

// Must exist before a shell may start.
inline constexpr const char *kReadyMarker = "/tmp/VelaReady";
// Reads one device setting.
inline constexpr const char *kConfigTool = "/opt/halvern/bin/kbox";
inline constexpr const char *kCrashReportTool = "/opt/halvern/bin/crashreport";
// Runs a command line.
inline constexpr const char *kCommandInterpreter = "/bin/sh";

// Listener sockets: kListenerRoot, a directory below it, "vela" and the terminal's name.
inline constexpr const char *kListenerRoot = "/tmp/";
inline constexpr const char *kApiListenerDir = "apiasynclisteners/";
inline constexpr const char *kSyslogListenerDir = "sysloglisteners/";

// The import: the file in the directory, renamed with ".csv" or ".xml" when complete.
inline constexpr const char *kImportDirectory = "/tmp/webdata";
inline constexpr const char *kImportFileName = "directory";

// Kernel tables.
inline constexpr const char *kProcesses = "/proc";
inline constexpr const char *kTcp6Table = "/proc/net/tcp6";

}  // namespace paths
