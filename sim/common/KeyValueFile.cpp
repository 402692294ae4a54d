#include "KeyValueFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "Escape.h"
#include "unique_fd.h"

namespace sim {

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void writeAll(int fd, const std::string &data, const std::string &what) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(what);
        done += static_cast<size_t>(n);
    }
}

}  // namespace

KeyValues KeyValueFile::load() const {
    KeyValues values;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        auto name = unescape(std::string_view(line).substr(0, eq));
        auto value = unescape(std::string_view(line).substr(eq + 1));
        // A damaged line is skipped rather than guessed at.
        if (name && value) values[*name] = *value;
    }
    return values;
}

void KeyValueFile::update(const std::function<void(KeyValues &)> &change) const {
    vela::UniqueFd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock) fail("open " + path_ + ".lock");
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) fail("lock " + path_);
    }
    KeyValues values = load();
    change(values);
    std::ostringstream text;
    for (const auto &[name, value] : values)
        text << escape(name) << '=' << escape(value) << '\n';
    std::string temp = path_ + ".new";
    vela::UniqueFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out) fail("open " + temp);
    writeAll(out.get(), text.str(), "write " + temp);
    out.reset();
    if (::rename(temp.c_str(), path_.c_str()) != 0) fail("rename " + temp);
}

bool KeyValueFile::validName(const std::string &name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (c == '=' || static_cast<unsigned char>(c) <= 0x20) return false;
    }
    return true;
}

}  // namespace sim
