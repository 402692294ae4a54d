// The caller's hooks into the editor: the output-lock callback and the typing report.
#pragma once

#include "cle.h"

namespace cle::hooks {

void register_lock(cle_LockCallbackT cb);
void register_inline(cle_InlineCallbackT cb);

// Calls the output-lock callback, if any, with lock and a null tag.
void invoke_lock_unlock_cb(int lock);
// Sets report_char, then calls the typing callback, if any, with report_state.
void cle_inline_notifier(int new_report_char, int report_state);
// 1 while a typing report is outstanding.
int report_char();

// Holds the caller's output lock for one scope; releasing writes out the echo first, so
// that nothing the editor drew is left behind when another thread may print.
class OutputLock {
  public:
    OutputLock() { invoke_lock_unlock_cb(1); }
    ~OutputLock() { release(); }
    OutputLock(const OutputLock &) = delete;
    OutputLock &operator=(const OutputLock &) = delete;

    // Writes out the echo and releases the lock (once).
    void release();

  private:
    bool held_ = true;
};

}  // namespace cle::hooks
