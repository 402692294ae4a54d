// Where things live inside the simulated device. The state directory is the one place
// shared with the host: tests read the stand-ins' records there.
#ifndef SIM_DEVICE_PATHS_H
#define SIM_DEVICE_PATHS_H

namespace sim::paths {

inline constexpr const char *kStateDir = "/opt/sim";
inline constexpr const char *kBinDir = "/opt/halvern/bin";
inline constexpr const char *kSbinDir = "/opt/halvern/sbin";
inline constexpr const char *kDeviceSearchPath =
    "/opt/halvern/bin:/opt/halvern/sbin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";

inline constexpr const char *kReadyMarker = "/tmp/VelaReady";
inline constexpr const char *kApiListenerDir = "/tmp/apiasynclisteners";
inline constexpr const char *kSyslogListenerDir = "/tmp/sysloglisteners";
inline constexpr const char *kDevLog = "/dev/log";

// File names inside the state directory.
inline constexpr const char *kSettingsFile = "settings";
inline constexpr const char *kBootEnvFile = "bootenv";
inline constexpr const char *kZuzReceivedFile = "zuz-received.log";
inline constexpr const char *kZuzRulesFile = "zuz-rules";
inline constexpr const char *kSyslogRecordsFile = "syslog.log";
inline constexpr const char *kToolLogFile = "tools.log";
inline constexpr const char *kCrashReportFile = "crashreport.state";
inline constexpr const char *kDevicePidFile = "device.pid";
inline constexpr const char *kZuzPidFile = "zuz.pid";
inline constexpr const char *kSyslogdPidFile = "syslogd.pid";
inline constexpr const char *kZuzOutputFile = "zuz.out";
inline constexpr const char *kSyslogdOutputFile = "syslogd.out";

}  // namespace sim::paths

#endif
