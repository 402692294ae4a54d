// Socket waits and the line writer.
#include <chrono>

#include "socket_io.h"
#include "test_support.h"

namespace xcom_test {
namespace {

TEST(SelectOne, ReportsEachConditionGroup) {
    Pair pair = socket_pair();
    const int both = XCOM_SELECT_READ | XCOM_SELECT_WRITE;
    EXPECT_EQ(selectOne(pair.near.get(), XCOM_SELECT_READ, 0), 0);
    EXPECT_EQ(selectOne(pair.near.get(), both, 0), XCOM_SELECT_WRITE);
    send_all(pair.far.get(), "x");
    EXPECT_EQ(selectOne(pair.near.get(), both, 1), both);
    pair.far.reset();
    EXPECT_EQ(selectOne(pair.near.get(), XCOM_SELECT_READ, 1) & XCOM_SELECT_EXCEPTION,
              XCOM_SELECT_EXCEPTION);
    EXPECT_EQ(selectOne(-1, XCOM_SELECT_READ, -1), -1);  // would otherwise wait for ever
}

TEST(SocketWriteLine, SendsAllOrNothingFails) {
    Pair pair = socket_pair();
    EXPECT_EQ(socket_write_line(pair.near.get(), "one\n"), 0);
    EXPECT_EQ(socket_write_line(pair.near.get(), ""), 0);
    EXPECT_EQ(receive(pair.far.get(), 4), "one\n");
    EXPECT_EQ(socket_write_line(pair.near.get(), nullptr), -1);
    pair.far.reset();
    // The peer is gone: a failure, and no SIGPIPE ends the test.
    EXPECT_EQ(socket_write_line(pair.near.get(), "two\n"), -1);
}

// The product waits 10 seconds; the same code path is run here with a 1-second wait.
TEST(SocketWriteLine, GivesUpOnAStalledPeerAfterItsWait) {
    Pair pair = socket_pair();
    const int small = 4096;
    setsockopt(pair.near.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::string line(1 << 20, 'w');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(xcom::write_line(pair.near.get(), line.c_str(), 1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    pair.near.reset();
    EXPECT_LT(receive(pair.far.get(), line.size()).size(), line.size());
}

}  // namespace
}  // namespace xcom_test
