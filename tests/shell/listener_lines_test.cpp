// The API listener's lines: assembled and cleaned exactly as the XCOM line reader does
// it, and read only from trusted senders.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "datagram_lines.h"
#include "libxcom.h"
#include "sender_filter.h"
#include "system_log.h"
#include "test_support.h"

namespace {

using Datagrams = std::vector<std::string>;
using Reader = std::function<int(int fd, char *line)>;

// What a reader returns for the datagrams, in order, up to its first failure ("FAIL").
// Sender credentials are enabled before anything is sent, as the shell does.
std::vector<std::string> readAll(const Datagrams &datagrams, const Reader &read) {
    xcom_test::Pair pair(SOCK_DGRAM);
    EXPECT_TRUE(enable_sender_credentials(pair.near.get()));
    Datagrams sent = datagrams;
    sent.push_back("END\n");
    for (const std::string &d : sent)
        EXPECT_EQ(send(pair.far.get(), d.data(), d.size(), 0), static_cast<ssize_t>(d.size()));
    std::vector<std::string> lines;
    auto line = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    for (int n; (n = read(pair.near.get(), line.get())) >= 0 && line.get() != std::string("END");)
        lines.emplace_back(line.get(), static_cast<size_t>(n));
    if (line.get() != std::string("END")) lines.push_back("FAIL");
    return lines;
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
        std::vector<char> held(XCOM_READ_BUFFER_SIZE, 0);
        int buflen = 0;
        const auto expected = readAll(datagrams, [&](int fd, char *line) {
            return socket_read_line(fd, held.data(), &buflen, line, 0);
        });
        SessionLog log;
        std::unique_ptr<TrustedLineReader> reader;
        // Everything is queued before the first read: nothing is waited for.
        const auto wait = TrustedLineReader::Wait::kNo;
        EXPECT_EQ(readAll(datagrams,
                          [&](int fd, char *line) {
                              if (!reader) reader = std::make_unique<TrustedLineReader>(fd, log);
                              return reader->next_line(line, wait);
                          }),
                  expected);
    }
}

// Without waiting, a line not yet whole is held until its end comes.
TEST(ListenerLines, ALineNotYetWholeIsNothingQueued) {
    xcom_test::Pair pair(SOCK_DGRAM);
    ASSERT_TRUE(enable_sender_credentials(pair.near.get()));
    SessionLog log;
    TrustedLineReader reader(pair.near.get(), log);
    auto line = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    const auto wait = TrustedLineReader::Wait::kNo;
    EXPECT_EQ(reader.next_line(line.get(), wait), TrustedLineReader::kNothingQueued);
    ASSERT_EQ(send(pair.far.get(), "one\ntw", 6, 0), 6);
    ASSERT_EQ(reader.next_line(line.get(), wait), 3);
    EXPECT_EQ(reader.next_line(line.get(), wait), TrustedLineReader::kNothingQueued);
    ASSERT_EQ(send(pair.far.get(), "o\n", 2, 0), 2);
    ASSERT_EQ(reader.next_line(line.get(), wait), 3);
    EXPECT_STREQ(line.get(), "two");
}

// Ten records at once, then one every six seconds; a refused one is counted in the next.
// Another user's datagrams, which these records report, are dropped end to end.
TEST(ListenerLines, DropRecordsAreRateLimited) {
    RecordBudget budget;
    const auto t0 = RecordBudget::Clock::time_point{} + std::chrono::hours(1);
    int refused = -1;
    std::string allowed;
    for (int s : {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 6})
        allowed += budget.allow(t0 + std::chrono::seconds(s), &refused) ? '+' : '-';
    EXPECT_EQ(allowed, "++++++++++--+");
    EXPECT_EQ(refused, 2);
    EXPECT_FALSE(budget.allow(t0 + std::chrono::seconds(11), &refused));
    // A long quiet time restores the whole burst, but no more.
    allowed = "";
    for (int i = 0; i < 11; ++i)
        allowed += budget.allow(t0 + std::chrono::hours(1), &refused) ? '+' : '-';
    EXPECT_EQ(allowed, "++++++++++-");
}
