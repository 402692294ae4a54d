#include "RuleBook.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace sim::zuz {

bool RuleBook::FileIdentity::operator==(const FileIdentity &other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
}

void RuleBook::reloadIfChanged() {
    FileIdentity now;
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0) {
        now = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    }
    if (now == loaded_) return;
    loaded_ = now;
    std::ostringstream text;
    if (now.exists) text << std::ifstream(path_).rdbuf();
    rules_ = parseRules(text.str());
    for (const auto &error : rules_.errors)
        std::fprintf(stderr, "zuz: %s: %s (rule ignored)\n", path_.c_str(), error.c_str());
}

std::optional<std::vector<Action>> RuleBook::match(std::string_view line) {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    for (auto &rule : rules_.rules) {
        if (rule.times == 0 || !rule.matches(line)) continue;
        if (rule.times > 0) --rule.times;
        return rule.actions;
    }
    return std::nullopt;
}

}  // namespace sim::zuz
