// The API listener's lines: assembled and cleaned exactly as the XCOM line reader does
// it, and read only from trusted senders.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "datagram_lines.h"
#include "libxcom.h"
#include "sender_filter.h"
#include "system_log.h"

namespace {

using Datagrams = std::vector<std::string>;

struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, fds), 0); }
    ~SocketPair() {
        close(fds[0]);
        close(fds[1]);
    }
    void send(const std::string &datagram) const {
        EXPECT_EQ(::send(fds[1], datagram.data(), datagram.size(), 0),
                  static_cast<ssize_t>(datagram.size()));
    }
};

// What a reader returns for the datagrams, in order, up to its first failure ("FAIL").
// With credentials, they are enabled before anything is sent, as the shell does.
template <class Reader>
std::vector<std::string> readAll(const Datagrams &datagrams, bool credentials, Reader read) {
    SocketPair pair;
    if (credentials) {
        EXPECT_TRUE(enable_sender_credentials(pair.fds[0]));
    }
    for (const auto &d : datagrams)
        pair.send(d);
    pair.send("END\n");
    std::vector<std::string> lines;
    auto line = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    for (;;) {
        int n = read(pair.fds[0], line.get());
        if (n < 0) {
            lines.push_back("FAIL");
            break;
        }
        std::string text(line.get(), static_cast<size_t>(n));
        if (text == "END") break;
        lines.push_back(text);
    }
    return lines;
}

std::vector<std::string> viaXcom(const Datagrams &datagrams) {
    std::vector<char> held(XCOM_READ_BUFFER_SIZE, 0);
    int buflen = 0;
    return readAll(datagrams, false, [&](int fd, char *line) {
        return socket_read_line(fd, held.data(), &buflen, line, 0);
    });
}

std::vector<std::string> viaListener(const Datagrams &datagrams) {
    SessionLog log;
    std::unique_ptr<TrustedLineReader> reader;
    return readAll(datagrams, true, [&](int fd, char *line) {
        if (!reader) reader = std::make_unique<TrustedLineReader>(fd, log);
        return reader->next_line(line);
    });
}

}  // namespace

// The XCOM line reader is the reference: the same datagrams give the same lines.
TEST(ListenerLines, AssembledAndCleanedAsTheXcomReaderDoesIt) {
    const std::string x16383(16383, 'x');
    const std::pair<const char *, Datagrams> cases[] = {
        {"two lines in one datagram", {"one\ntwo\n"}},
        {"a line over two datagrams", {"half a ", "line\n"}},
        {"NULs, then the percent signs blanked", {std::string("a\0b%c\n", 6)}},
        {"percent signs kept without NULs", {"100%\n"}},
        {"control bytes trimmed at both ends", {"\t\x01 keep \x7f\xff\r\r\n"}},
        {"CR LF alone is an empty line", {"\r\n", "x\n"}},
        {"an empty datagram carries nothing", {"", "x\n"}},
        {"the longest line", {x16383 + "\n"}},
        {"a line one byte too long", {x16383 + "y\n", "never\n"}},
        {"held bytes without a LF fill up", {std::string(20000, 'a'), std::string(20000, 'b')}},
        {"a datagram larger than the room is cut", {std::string(40000, 'c') + "\n"}},
    };
    for (const auto &[name, datagrams] : cases) {
        SCOPED_TRACE(name);
        const auto expected = viaXcom(datagrams);
        EXPECT_EQ(viaListener(datagrams), expected);
    }
}

TEST(ListenerLines, OnlyRootAndOurOwnUserAreTrusted) {
    const uid_t own = 1000;
    EXPECT_TRUE(trusted_sender(0, own));
    EXPECT_TRUE(trusted_sender(own, own));
    EXPECT_FALSE(trusted_sender(65534, own));
    EXPECT_FALSE(trusted_sender(static_cast<uid_t>(-1), own));
    EXPECT_TRUE(trusted_sender(0, 0));
}

// Ten records at once, then one every six seconds; a refused one is counted in the next.
TEST(ListenerLines, DropRecordsAreRateLimited) {
    RecordBudget budget;
    const auto t0 = RecordBudget::Clock::time_point{} + std::chrono::hours(1);
    int refused = -1;
    for (int i = 0; i < RecordBudget::kBurst; ++i) {
        ASSERT_TRUE(budget.allow(t0, &refused));
        EXPECT_EQ(refused, 0);
    }
    EXPECT_FALSE(budget.allow(t0 + std::chrono::seconds(5), &refused));
    EXPECT_FALSE(budget.allow(t0 + std::chrono::seconds(5), &refused));
    EXPECT_TRUE(budget.allow(t0 + std::chrono::seconds(6), &refused));
    EXPECT_EQ(refused, 2);
    EXPECT_FALSE(budget.allow(t0 + std::chrono::seconds(11), &refused));
    // A long quiet time restores the whole burst, but no more.
    const auto later = t0 + std::chrono::hours(1);
    for (int i = 0; i < RecordBudget::kBurst; ++i)
        EXPECT_TRUE(budget.allow(later, &refused)) << i;
    EXPECT_FALSE(budget.allow(later, &refused));
}

// A datagram of another user is dropped; the lines around it still come, in order.
TEST(ListenerLines, DatagramsOfOtherUsersAreDropped) {
    if (geteuid() != 0) GTEST_SKIP() << "sending as another user needs root";
    SocketPair pair;
    ASSERT_TRUE(enable_sender_credentials(pair.fds[0]));
    pair.send("before\n");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool changed = setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0;
        _exit(changed && send(pair.fds[1], "success\n", 8, 0) == 8 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    pair.send("after\n");
    SessionLog log;
    TrustedLineReader reader(pair.fds[0], log);
    auto line = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    ASSERT_EQ(reader.next_line(line.get()), 6);
    EXPECT_STREQ(line.get(), "before");
    ASSERT_EQ(reader.next_line(line.get()), 5);
    EXPECT_STREQ(line.get(), "after");
}
