// The history ring and the parts of the editor that need no terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "cle.h"

namespace {

void add_lines(int from, int to) {
    for (int i = from; i < to; ++i)
        ASSERT_EQ(cle_history_add(("l" + std::to_string(i)).c_str()), 0);
}

TEST(HistoryTest, RingFillsFromSlotZeroWrapsAndReplacesItsNewest) {
    cle_cleanup();  // empties the ring
    for (int i = -1; i <= 64; ++i)
        EXPECT_EQ(cle_history(i), nullptr) << i;
    EXPECT_EQ(cle_history_replace_last_entry("x"), -1);  // nothing to replace: stays empty
    EXPECT_EQ(cle_history_add(nullptr), -1);
    EXPECT_EQ(cle_history_size(), 0);
    add_lines(0, 3);
    ASSERT_EQ(cle_history_replace_last_entry(cle_history(2)), 0);  // an entry itself
    EXPECT_STREQ(cle_history(2), "l2");
    ASSERT_EQ(cle_history_replace_last_entry(cle_history(0)), 0);
    EXPECT_EQ(cle_history_replace_last_entry(nullptr), -1);
    EXPECT_STREQ(cle_history(2), "l0");
    add_lines(3, 64);  // full, the next slot is 0 again
    EXPECT_EQ(cle_history_get_start(), 0);
    ASSERT_EQ(cle_history_replace_last_entry("newest"), 0);
    EXPECT_STREQ(cle_history(63), "newest");  // the slot before index 0 of a full ring
    add_lines(64, 70);
    EXPECT_EQ(cle_history_size(), 64);
    EXPECT_EQ(cle_history_get_start(), 6);
    EXPECT_STREQ(cle_history(5), "l69");
    EXPECT_STREQ(cle_history(0), "l64");
}

TEST(HistoryTest, CommandFilterKeepsPasswordCommandsOut) {
    cle_cleanup();
    for (const char *secret :
         {"setpassword admin old new new", " \twebmonitoring secret", "webmonitoring"})
        EXPECT_EQ(cle_history_add(secret), 1) << secret;
    EXPECT_EQ(cle_history_add("setpasswords x"), 0);
    EXPECT_EQ(cle_history_add("echo setpassword"), 0);
    EXPECT_EQ(cle_history_size(), 2);
    EXPECT_EQ(cle_history_command_filter(5), 1);  // on by default
    EXPECT_EQ(cle_history_command_filter(0), 1);
    EXPECT_EQ(cle_history_command_filter(0), 0);
    EXPECT_EQ(cle_history_add("setpassword a b c d"), 0);
    cle_history_command_filter(1);
}

TEST(CleWithoutTerminal, InitRefusesANonTerminalAndCallsRefuseABadBuffer) {
    const int saved = dup(0), null_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_fd, 0);
    dup2(null_fd, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cle_init(5), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    dup2(saved, 0);
    close(saved);
    close(null_fd);
    EXPECT_EQ(err.rfind("save_term_settings() failed\n: ", 0), 0u) << err;
    EXPECT_EQ(cle_reset_term(), -1);   // nothing was saved
    EXPECT_EQ(cle_refresh_line(), 0);  // no call yet: nothing to show
    char buf[4] = "abc";
    EXPECT_EQ(cle_get_command_line(nullptr, nullptr, 10), -1);
    EXPECT_EQ(cle_get_command_line(nullptr, buf, 0), -1);
    EXPECT_STREQ(buf, "abc");
}

}  // namespace
