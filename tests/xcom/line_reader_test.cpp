// The line reader over socketpairs: waits, held lines, its reports and its cost per line.
#include "line_reader.h"
#include "line_buffer.h"
#include "test_support.h"

namespace xcom_test {
namespace {

// Framing and limits on arbitrary input are the fuzz target's: here what it does not
// see. A partial line is kept across a timeout, and a held line comes back without
// touching the socket: an invalid one must not matter.
TEST(LineReader, KeepsPartialLinesAcrossTimeoutsAndServesHeldLinesWithoutIo) {
    Pair pair;
    Reader reader;
    send_all(pair.far.get(), "hel");
    EXPECT_EQ(reader.read(pair.near.get(), 1), 0);
    EXPECT_EQ(reader.buflen, 3);
    send_all(pair.far.get(), "lo\nsecond\n");
    EXPECT_EQ(reader.read(pair.near.get()), 5);
    EXPECT_EQ(reader.text(), "hello");
    EXPECT_EQ(reader.read(-1), 6);
    EXPECT_EQ(reader.text(), "second");
}

// The failures are logged only while logging is on, an over-long line stays held, and
// datagrams fill the held bytes too.
TEST(LineReader, LogsLimitFailuresOnlyWhenAskedAndRefusesABadState) {
    Pair pair, other(SOCK_DGRAM);
    Reader reader, full;
    send_all(pair.far.get(), std::string(XCOM_MAX_LINE, 'y') + "\n");
    send_all(other.far.get(), std::string(XCOM_MAX_HELD / 2, 'z'));
    send_all(other.far.get(), std::string(XCOM_MAX_HELD / 2, 'z'));
    CaptureStdout();
    EXPECT_EQ(reader.read(pair.near.get()), -1);  // nothing printed: the switch is off
    EXPECT_EQ(xcom_log_errors(1), 0);
    EXPECT_EQ(reader.read(pair.near.get()), -1);  // the line stays held
    EXPECT_EQ(reader.buflen, XCOM_MAX_LINE + 1);
    EXPECT_EQ(full.read(other.near.get()), -1);
    EXPECT_EQ(full.buflen, XCOM_MAX_HELD);
    xcom_log_errors(0);
    EXPECT_EQ(GetCapturedStdout(),
              "XCOM:WARNING:16385 bytes invalid socket input (16384 max)\n"
              "XCOM:WARNING:Buffer is full, current buffer size is 32768");
    full.buflen = XCOM_MAX_HELD + 1;
    EXPECT_EQ(full.read(other.near.get()), -1);
    EXPECT_EQ(socket_read_line(other.near.get(), nullptr, &reader.buflen, nullptr, 1), -1);
}

// The cleaning of each line (NULs dropped, then every "%" blanked; control bytes trimmed)
// is the fuzz target's, on seeds such as stream_cleaning_kept. Here its report: received
// data reaches the diagnostics only as an argument, never as a format.
TEST(LineReader, PrintsReceivedDataOnlyAsAnArgument) {
    xcom_log_errors(1);
    Pair pair;
    Reader reader;
    send_all(pair.far.get(), std::string_view("%n%s\0!\n", 7));
    CaptureStdout();
    EXPECT_EQ(reader.read(pair.near.get()), 5);
    EXPECT_EQ(reader.text(), " n s!");
    pair.far.reset();
    EXPECT_EQ(reader.read(pair.near.get()), -1);
    xcom_log_errors(0);
    char printed[200];
    std::snprintf(printed, sizeof printed,
                  "XCOM:WARNING:Data has embedded nulls. Data after filtering nulls: n s!\n\n"
                  "XCOM:WARNING:remote socket 0x%08x now closed\n",
                  static_cast<unsigned>(pair.near.get()));
    EXPECT_EQ(GetCapturedStdout(), printed);
}

TEST(LineReader, CostsWorkInProportionToEachLine) {
    Pair pair;
    std::string segment;
    for (int i = 0; i < XCOM_MAX_HELD / 16; ++i)
        segment += "line-of-16-byte\n";
    send_all(pair.far.get(), segment);
    Reader reader;
    std::size_t scanned = 0, moved = 0;
    for (int i = 0; i < XCOM_MAX_HELD / 16; ++i) {
        xcom::HeldBytes held(reader.buffer.data(), &reader.buflen);
        ASSERT_EQ(xcom::read_line(pair.near.get(), held, reader.line.data(), 5), 15);
        scanned += held.scanned();
        moved += held.moved();
    }
    // Moving the rest after each line would move about 32 MB and rescan nothing less.
    EXPECT_LE(scanned, segment.size() + 64);
    EXPECT_LE(moved, 64u);
}

}  // namespace
}  // namespace xcom_test
