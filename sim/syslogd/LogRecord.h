// Records as they arrive on /dev/log, and the log line layout sent to listeners.
#ifndef SIM_LOG_RECORD_H
#define SIM_LOG_RECORD_H

#include <ctime>
#include <string>
#include <string_view>

namespace sim {

struct LogRecord {
    int priority = 13;  // user.notice, for a datagram without "<N>"
    std::string identity;
    std::string pid;
    std::string message;
};

// Splits "<PRI>Mmm dd hh:mm:ss IDENT[PID]: MESSAGE" (timestamp and PID optional);
// trailing LF and NUL bytes of the message are dropped. Never fails: what cannot be
// read as a header stays in the message. Any thread.
LogRecord parseLogRecord(std::string_view datagram);

// "YYYY-MM-DD HH:MM:SS LEVEL IDENT: MESSAGE" in local time: an 11-character date
// field, a 9-character time field, so the level word starts at position 20. Any thread.
std::string formatLogLine(const LogRecord &record, std::time_t when);

// "emerg" ... "debug" for the level bits of a priority. Static storage.
const char *levelWord(int priority);

}  // namespace sim

#endif
