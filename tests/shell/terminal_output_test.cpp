// The terminal output shared with the editor: background text waits while the user
// types, bursts are written in few writes, and the editor's callbacks hold the lock.
#include "terminal_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

class Output : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(terminal, O_CLOEXEC | O_NONBLOCK), 0);
        ASSERT_TRUE(output.create_mutex());
        ASSERT_TRUE(output.create_buffer(terminal[1]));
    }
    void TearDown() override {
        for (int fd : {terminal[0], terminal[1]})
            close(fd);
    }
    // What reached the terminal since the last look.
    std::string shown() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(terminal[0], buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    void print(const char *line) {
        OutputGuard guard(output);
        guard.printf("%s\n", line);
    }
    int terminal[2];
    TerminalOutput output;
};

// Background text waits while the user types. In a burst, while the reader does not
// wait, the flush waits too, but for 64 lines at most.
TEST_F(Output, BackgroundTextWaitsForTypingAndBurstsForSixtyFourLines) {
    print("event");
    output.set_typing(true);
    output.flush_unless_typing();
    EXPECT_EQ(shown(), "");
    output.set_typing(false);
    output.flush_unless_typing();
    EXPECT_EQ(shown(), "event\n");
    BurstFlush flush(output);
    for (int i = 1; i <= 2 * kFlushEvery + 1; ++i) {
        print("line");
        flush.line_printed();
        EXPECT_EQ(shown().size(), i % kFlushEvery ? 0u : 5u * kFlushEvery) << i;
    }
    flush.before_wait();
    EXPECT_EQ(shown(), "line\n");
}

TEST_F(Output, TheEditorsCallbacksHoldTheLockAndReportTyping) {
    register_editor_callbacks(output);
    cle_lock_unlock_op(1, nullptr);
    std::atomic<bool> printed{false};
    std::thread writer([&] {
        print("background");
        printed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(printed) << "the writer waits for the editor";
    cle_lock_unlock_op(0, nullptr);
    writer.join();
    cle_inline_state_tracker(7);
    EXPECT_TRUE(output.typing());
    cle_inline_state_tracker(0);
    EXPECT_FALSE(output.typing());
}

}  // namespace
