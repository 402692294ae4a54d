// Buffered shell output: what a flush writes, when, and with which line ends.
#include "shell_io.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "alloc_counter.h"

namespace {

// An object, and an in-memory file whose contents the test reads back once it binds it.
class ShellIOTest : public ::testing::Test {
  protected:
    void TearDown() override {
        shell_io_destroy(shio_);
        close(fd_);
    }
    // Flushes; everything written to the file since the last call.
    std::string flushed() {
        EXPECT_EQ(shell_io_flush(shio_), 0);
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = pread(fd_, buf, sizeof buf, offset_)) > 0; offset_ += n)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }
    int fd_ = memfd_create("shell_io_test", 0);
    off_t offset_ = 0;
    ShellIOT *shio_ = shell_io_create();
};

TEST_F(ShellIOTest, TextReachesTheDescriptorOnlyOnFlushInPrintOrderAndUnchanged) {
    ASSERT_EQ(shell_io_bind_fd(shio_, fd_), 0);
    shell_io_printf(shio_, "%s\n", "%n%s%x");  // arguments are never formats
    shell_io_printf(shio_, "second %d\r\n\n", 2);
    EXPECT_EQ(lseek(fd_, 0, SEEK_END), 0) << "nothing before the flush";
    EXPECT_EQ(flushed(), "%n%s%x\nsecond 2\r\n\n");
    EXPECT_EQ(flushed(), "") << "a second flush must not repeat the text";
    shell_io_printf(shio_, "%s", std::string(5000, 'x').c_str());
    flushed();
    shell_io_printf(shio_, "ok\n");
    EXPECT_EQ(flushed(), "ok\n") << "no stale tail of the longer text";
}

TEST_F(ShellIOTest, CrInsertionTurnsEveryLineEndIntoCrLfAndThenAllocatesNothing) {
    ASSERT_EQ(shell_io_bind_fd(shio_, fd_), 0);
    ASSERT_EQ(shell_io_add_cr(shio_), 0);
    const std::pair<const char *, const char *> cases[] = {
        {"a\nb", "a\r\nb\r\n"},  // an unterminated last line gets CR LF too
        {"\n\n", "\r\n\r\n"},
        {"x\r\n", "x\r\r\n"},  // only the LF is replaced
    };
    for (const auto &[in, out] : cases) {
        shell_io_printf(shio_, "%s", in);
        EXPECT_EQ(flushed(), out) << in;
    }
    const std::string line(199, 'z');
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        shell_io_printf(shio_, "%s\n", line.c_str());
        expected += line + "\r\n";
    }
    EXPECT_EQ(flushed(), expected) << "a large burst is written whole";
    // The buffers have grown to their working size: from now on nothing is allocated
    // (nothing is counted in sanitizer builds).
    const size_t before = test_support::allocation_count();
    for (int i = 0; i < 100; ++i) {
        shell_io_printf(shio_, "event %d: %s\n", i, "payload");
        shell_io_flush(shio_);
    }
    EXPECT_EQ(test_support::allocation_count(), before);
}

TEST_F(ShellIOTest, TextIsKeptUntilADescriptorIsBoundAndNullObjectsAreRefused) {
    shell_io_printf(shio_, "early\n");
    EXPECT_EQ(shell_io_flush(shio_), 0);
    shell_io_printf(shio_, "late\n");
    char *text = nullptr;
    int size = -1, fd = 0;
    EXPECT_EQ(shell_io_get_attributes(shio_, &text, &size, &fd), 0);
    EXPECT_EQ(std::string(text, static_cast<size_t>(size)), "early\nlate\n");
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(shell_io_get_attributes(shio_, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(shell_io_bind_fd(shio_, 0), -3) << "descriptor 0 is refused";
    ASSERT_EQ(shell_io_bind_fd(shio_, fd_), 0);
    EXPECT_EQ(flushed(), "early\nlate\n");

    EXPECT_EQ(shell_io_bind_fd(nullptr, 1), -3);
    EXPECT_EQ(shell_io_add_cr(nullptr), -3);
    EXPECT_EQ(shell_io_printf(nullptr, "x"), -1);
    EXPECT_EQ(shell_io_flush(nullptr), 0);
    EXPECT_EQ(shell_io_get_attributes(nullptr, nullptr, nullptr, nullptr), -3);
    EXPECT_EQ(shell_io_destroy(nullptr), -3);
}

}  // namespace
