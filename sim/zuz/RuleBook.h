// The rules file as zuz sees it: read again whenever it changes.
#ifndef SIM_ZUZ_RULE_BOOK_H
#define SIM_ZUZ_RULE_BOOK_H

#include <sys/types.h>

#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Rules.h"

namespace sim::zuz {

class RuleBook {
  public:
    explicit RuleBook(std::string path) : path_(std::move(path)) {}

    // The actions of the first rule that matches line, after re-reading the file if it
    // changed; nullopt when no rule applies. Counts the line against the rule's "times".
    // Returns a copy owned by the caller; any thread.
    std::optional<std::vector<Action>> match(std::string_view line);

  private:
    struct FileIdentity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        struct timespec modified {};
        bool operator==(const FileIdentity &other) const;
    };
    void reloadIfChanged();  // caller holds mutex_

    const std::string path_;
    std::mutex mutex_;
    FileIdentity loaded_;  // guarded by mutex_
    RuleSet rules_;        // guarded by mutex_ (the "times" counters change)
};

}  // namespace sim::zuz

#endif
