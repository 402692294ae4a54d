#include "RecordFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "DevicePaths.h"
#include "Escape.h"

namespace sim {

RecordFile::RecordFile(const std::string &path)
    : fd_(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) {}

void RecordFile::append(const std::vector<std::string_view> &fields) const {
    if (!fd_) return;
    std::string record;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) record += '\t';
        record += escape(fields[i]);
    }
    record += '\n';
    // O_APPEND writes of a regular file are whole; a short write only happens when
    // the disk is full, and then the record is lost either way.
    ssize_t n;
    do {
        n = ::write(fd_.get(), record.data(), record.size());
    } while (n < 0 && errno == EINTR);
}

void recordToolInvocation(int argc, char **argv) {
    std::vector<std::string_view> fields(argv, argv + argc);
    RecordFile(std::string(paths::kStateDir) + "/" + paths::kToolLogFile).append(fields);
}

}  // namespace sim
