// Append-only record files of the device: one escaped record per line, fields
// separated by TAB (which escaping never leaves inside a field).
#ifndef SIM_RECORD_FILE_H
#define SIM_RECORD_FILE_H

#include <string>
#include <string_view>
#include <vector>

#include "unique_fd.h"

namespace sim {

class RecordFile {
  public:
    // Opens (creating) PATH for appending; a file that cannot be opened drops records.
    explicit RecordFile(const std::string &path);
    // Appends one record in a single write, so records of concurrent writers (threads
    // or processes) never interleave. Any thread.
    void append(const std::vector<std::string_view> &fields) const;

  private:
    vela::UniqueFd fd_;
};

// Appends the invocation argv to the tool log of the state directory.
void recordToolInvocation(int argc, char **argv);

}  // namespace sim

#endif
