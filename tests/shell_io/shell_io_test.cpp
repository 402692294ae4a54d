// Buffered shell output: what a flush writes, when, and with which line ends.

#include "shell_io.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "alloc_counter.h"

namespace {

// An object bound to an in-memory file whose contents the test reads back.
class ShellIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        fd_ = memfd_create("shell_io_test", 0);
        ASSERT_GE(fd_, 1);
        shio_ = shell_io_create();
        ASSERT_NE(shio_, nullptr);
        ASSERT_EQ(shell_io_bind_fd(shio_, fd_), 0);
    }
    void TearDown() override {
        shell_io_destroy(shio_);
        close(fd_);
    }
    // Everything written to the descriptor since the last call.
    std::string written() {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = pread(fd_, buf, sizeof buf, offset_)) > 0) {
            out.append(buf, static_cast<size_t>(n));
            offset_ += n;
        }
        return out;
    }

    int fd_ = -1;
    off_t offset_ = 0;
    ShellIOT *shio_ = nullptr;
};

TEST_F(ShellIOTest, TextReachesTheDescriptorOnlyOnFlushInPrintOrder) {
    shell_io_printf(shio_, "%s\n", "first");
    shell_io_printf(shio_, "second %d\n", 2);
    EXPECT_EQ(written(), "");
    EXPECT_EQ(shell_io_flush(shio_), 0);
    EXPECT_EQ(written(), "first\nsecond 2\n");
    EXPECT_EQ(shell_io_flush(shio_), 0);
    EXPECT_EQ(written(), "") << "a second flush must not repeat the text";
}

TEST_F(ShellIOTest, ShorterTextAfterLongerTextLeavesNoStaleTail) {
    shell_io_printf(shio_, "%s", std::string(5000, 'x').c_str());
    shell_io_flush(shio_);
    written();
    shell_io_printf(shio_, "ok\n");
    shell_io_flush(shio_);
    EXPECT_EQ(written(), "ok\n");
}

TEST_F(ShellIOTest, CrInsertionTurnsEveryLineEndIntoCrLf) {
    ASSERT_EQ(shell_io_add_cr(shio_), 0);
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"a\nb", "a\r\nb\r\n"},     // an unterminated last line gets CR LF too
        {"\n", "\r\n"},             // an empty line
        {"x\r\n", "x\r\r\n"},       // only the LF is replaced
        {"one\ntwo\n", "one\r\ntwo\r\n"},
        {"\n\n\n", "\r\n\r\n\r\n"},
    };
    for (const Case &c : cases) {
        shell_io_printf(shio_, "%s", c.in);
        shell_io_flush(shio_);
        EXPECT_EQ(written(), c.out) << "input: " << c.in;
    }
}

TEST_F(ShellIOTest, WithoutCrInsertionBytesPassUnchanged) {
    shell_io_printf(shio_, "%s", "a\nb\r\n\n");
    shell_io_flush(shio_);
    EXPECT_EQ(written(), "a\nb\r\n\n");
}

TEST_F(ShellIOTest, ArgumentsAreNeverTakenAsFormats) {
    shell_io_printf(shio_, "%s\n", "%n%s%x");
    shell_io_flush(shio_);
    EXPECT_EQ(written(), "%n%s%x\n");
}

TEST_F(ShellIOTest, LargeBurstIsWrittenWholeWithCr) {
    shell_io_add_cr(shio_);
    std::string line(199, 'z');
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        shell_io_printf(shio_, "%s\n", line.c_str());
        expected += line + "\r\n";
    }
    shell_io_flush(shio_);
    EXPECT_EQ(written(), expected);
}

TEST_F(ShellIOTest, SteadyStatePrintingAndFlushingAllocateNothing) {
    if (!test_support::alloc_counting_available()) GTEST_SKIP() << "sanitizer build";
    shell_io_add_cr(shio_);
    auto burst = [&] {
        for (int i = 0; i < 50; ++i) shell_io_printf(shio_, "event %d: %s\n", i, "payload");
        shell_io_flush(shio_);
    };
    burst();  // buffers reach their working size
    size_t before = test_support::allocation_count();
    for (int i = 0; i < 100; ++i) burst();
    EXPECT_EQ(test_support::allocation_count(), before);
}

TEST(ShellIOUnbound, TextIsKeptUntilADescriptorIsBound) {
    ShellIOT *shio = shell_io_create();
    ASSERT_NE(shio, nullptr);
    EXPECT_EQ(shio->fd, -1);
    shell_io_printf(shio, "early\n");
    EXPECT_EQ(shell_io_flush(shio), 0);
    shell_io_printf(shio, "late\n");

    int fd = memfd_create("unbound", 0);
    EXPECT_EQ(shell_io_bind_fd(shio, 0), -3) << "descriptor 0 is refused";
    EXPECT_EQ(shio->fd, -1);
    ASSERT_EQ(shell_io_bind_fd(shio, fd), 0);
    EXPECT_EQ(shell_io_flush(shio), 0);
    char buf[64] = {};
    EXPECT_EQ(pread(fd, buf, sizeof buf - 1, 0), 11);
    EXPECT_STREQ(buf, "early\nlate\n");
    shell_io_destroy(shio);
    close(fd);
}

TEST(ShellIOArguments, NullObjectsAndAttributes) {
    EXPECT_EQ(shell_io_bind_fd(nullptr, 1), -3);
    EXPECT_EQ(shell_io_add_cr(nullptr), -3);
    EXPECT_EQ(shell_io_printf(nullptr, "x"), -1);
    EXPECT_EQ(shell_io_flush(nullptr), 0);
    EXPECT_EQ(shell_io_get_attributes(nullptr, nullptr, nullptr, nullptr), -3);
    EXPECT_EQ(shell_io_destroy(nullptr), -3);

    ShellIOT *shio = shell_io_create();
    ASSERT_NE(shio, nullptr);
    shell_io_printf(shio, "abc");
    EXPECT_EQ(shell_io_get_attributes(shio, nullptr, nullptr, nullptr), 0);
    char *text = nullptr;
    int size = -1, fd = 0;
    EXPECT_EQ(shell_io_get_attributes(shio, &text, &size, &fd), 0);
    EXPECT_EQ(std::string(text, static_cast<size_t>(size)), "abc");
    EXPECT_EQ(fd, -1);
    shell_io_destroy(shio);
}

}  // namespace
