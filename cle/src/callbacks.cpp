// The output-lock callback and the typing report.
#include "callbacks.h"

#include "terminal.h"

namespace cle::hooks {
namespace {

// Guard for all three: main thread only (registered before the first editor call, and
// called only from inside the editor).
cle_LockCallbackT lock_unlock_cb = nullptr;
cle_InlineCallbackT inline_cb = nullptr;
int report_char_flag = 0;  // 1 from the first character of a line until Enter

}  // namespace

void register_lock(cle_LockCallbackT cb) {
    lock_unlock_cb = cb;
}
void register_inline(cle_InlineCallbackT cb) {
    inline_cb = cb;
}

void invoke_lock_unlock_cb(int lock) {
    if (lock_unlock_cb != nullptr) lock_unlock_cb(lock, nullptr);
}

void cle_inline_notifier(int new_report_char, int report_state) {
    report_char_flag = new_report_char;
    if (inline_cb != nullptr) inline_cb(report_state);
}

int report_char() {
    return report_char_flag;
}

void OutputLock::release() {
    if (!held_) return;
    term::echo_flush();
    held_ = false;
    invoke_lock_unlock_cb(0);
}

}  // namespace cle::hooks
