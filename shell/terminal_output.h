// The terminal output that background text shares with the line editor: one output
// mutex, the buffered output object that background text is collected in, and the flag
// that says whether the user is typing a line.
//
// The mutex is held around every print into and every flush of the buffered output (an
// OutputGuard does both), and by the editor while it draws (through its lock callback).
// While the user is typing, background text is only collected; it is written out once
// the line has ended. Standard output written directly (shell_println) is not covered.
#pragma once

#include <pthread.h>

#include <atomic>

#include "shell_io.h"

class TerminalOutput {
  public:
    TerminalOutput() = default;
    TerminalOutput(const TerminalOutput &) = delete;
    TerminalOutput &operator=(const TerminalOutput &) = delete;
    // The shell's own is never destroyed (session.h); others release what they made.
    ~TerminalOutput();

    // Start-up, main thread, in this order; each false on failure.
    bool create_mutex();
    bool create_buffer(int fd = 1);  // written to fd (the terminal)
    // Writes every line end of background text as CR LF. Start-up only.
    void insert_cr();

    // Written by the editor's typing report on the main thread (it takes and releases
    // the mutex itself); read by every writer. Any thread.
    bool typing() const { return typing_.load(); }
    void set_typing(bool typing) { typing_.store(typing); }

    // Writes out the collected text unless the user is typing. Takes the mutex.
    void flush_unless_typing();

  private:
    friend class OutputGuard;
    friend void cle_lock_unlock_op(int lock, char *tag);
    pthread_mutex_t mutex_;
    bool mutex_created_ = false;
    ShellIOT *buffer_ = nullptr;  // guarded by mutex_
    std::atomic<bool> typing_{false};
};

// Holds the output mutex for one scope; the buffered output is reached only through it.
class OutputGuard {
  public:
    explicit OutputGuard(TerminalOutput &output);
    ~OutputGuard();
    OutputGuard(const OutputGuard &) = delete;
    OutputGuard &operator=(const OutputGuard &) = delete;

    // Collects formatted text; the result of shell_io_printf.
    int printf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    // Writes out the collected text.
    void flush();
    void flush_unless_typing();

  private:
    TerminalOutput &output_;
};

// Makes output the target of the editor's two callbacks and registers them. Start-up,
// before the first editor call.
void register_editor_callbacks(TerminalOutput &output);
// The editor's output-lock callback: takes (non-zero lock) or releases the output mutex.
void cle_lock_unlock_op(int lock, char *tag);
// The editor's typing report.
void cle_inline_state_tracker(int state);

// Most background lines written in one go during a burst.
constexpr int kFlushEvery = 64;

// The flushes of a reader of background lines: every kFlushEvery lines printed, and
// whenever the reader is about to wait for more, so that a burst reaches the terminal in
// a few large writes. The bytes and their order are the same. The reader's thread only.
class BurstFlush {
  public:
    explicit BurstFlush(TerminalOutput &output) : output_(output) {}
    void line_printed() {
        if (++unflushed_ >= kFlushEvery) before_wait();
    }
    // Flushes unless the user is typing; the editor flushes once the line has ended.
    void before_wait() {
        output_.flush_unless_typing();
        unflushed_ = 0;
    }

  private:
    TerminalOutput &output_;
    int unflushed_ = 0;
};
