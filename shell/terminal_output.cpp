#include "terminal_output.h"

#include <stdarg.h>

#include "cle.h"

namespace {

// The editor's callbacks carry no context: this is the output they serve. Written once
// at start-up, before the editor runs.
TerminalOutput *g_editor_output = nullptr;

}  // namespace

TerminalOutput::~TerminalOutput() {
    if (buffer_ != nullptr) shell_io_destroy(buffer_);
    if (mutex_created_) pthread_mutex_destroy(&mutex_);
}

bool TerminalOutput::create_mutex() {
    mutex_created_ = pthread_mutex_init(&mutex_, nullptr) == 0;
    return mutex_created_;
}

bool TerminalOutput::create_buffer(int fd) {
    buffer_ = shell_io_create();
    if (buffer_ == nullptr) return false;
    shell_io_bind_fd(buffer_, fd);
    return true;
}

void TerminalOutput::insert_cr() {
    shell_io_add_cr(buffer_);
}

void TerminalOutput::flush_unless_typing() {
    OutputGuard guard(*this);
    guard.flush_unless_typing();
}

OutputGuard::OutputGuard(TerminalOutput &output) : output_(output) {
    pthread_mutex_lock(&output_.mutex_);
}

OutputGuard::~OutputGuard() {
    pthread_mutex_unlock(&output_.mutex_);
}

int OutputGuard::printf(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = shell_io_vprintf(output_.buffer_, fmt, args);
    va_end(args);
    return n;
}

void OutputGuard::flush() {
    shell_io_flush(output_.buffer_);
}

void OutputGuard::flush_unless_typing() {
    if (!output_.typing()) flush();
}

void register_editor_callbacks(TerminalOutput &output) {
    g_editor_output = &output;
    cle_register_sync_callbacks(cle_lock_unlock_op);
    cle_register_inline_callback(cle_inline_state_tracker);
}

void cle_lock_unlock_op(int lock, char *) {
    if (lock)
        pthread_mutex_lock(&g_editor_output->mutex_);
    else
        pthread_mutex_unlock(&g_editor_output->mutex_);
}

void cle_inline_state_tracker(int state) {
    g_editor_output->set_typing(state != 0);
}
