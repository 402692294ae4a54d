// Socket waits and the line writer.
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_support.h"
#include "xcom.h"

// Every poll() of the library comes here (the tests link with --wrap=poll). While
// expiring is set, each wait ends at once as if its time had run out, and its length in
// milliseconds is noted in waited. Waits for room to write are counted.
static std::atomic<bool> expiring{false};
static std::vector<int> waited;  // written only while expiring, by the test's thread
static std::atomic<int> write_waits{0};
extern "C" int __real_poll(pollfd *fds, nfds_t count, int timeout);
extern "C" int __wrap_poll(pollfd *fds, nfds_t count, int timeout) {
    if (count == 1 && (fds[0].events & POLLOUT) != 0) write_waits.fetch_add(1);
    if (!expiring) return __real_poll(fds, count, timeout);
    waited.push_back(timeout);
    return 0;
}

namespace xcom_test {
namespace {

TEST(SelectOne, ReportsEachConditionGroup) {
    Pair pair;
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

TEST(SocketWriteLine, SendsAllInPiecesWaitsTenSecondsEachTimeLikeAConnectOrFails) {
    Pair pair;
    std::string line;  // far more than the socket takes at once: sent in many pieces
    for (int i = 0; line.size() < (1 << 20); ++i)
        line += std::to_string(i) + ",";
    std::string got;
    // The peer reads only once the writer waits again after its first send: the socket's
    // buffer is full, and the rest must follow from where that send stopped.
    const int before = write_waits.load();
    std::thread peer([&] {
        while (write_waits.load() < before + 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        got = receive(pair.far.get(), line.size() + 4);
    });
    EXPECT_EQ(socket_write_line(pair.near.get(), ""), 0);
    EXPECT_EQ(socket_write_line(pair.near.get(), (line + "end\n").c_str()), 0);
    peer.join();
    EXPECT_TRUE(got == line + "end\n") << got.size() << " bytes received";
    EXPECT_EQ(socket_write_line(pair.near.get(), nullptr), -1);

    // A wait that runs out is not a failure: the writer gives up, a connect fails.
    Loopback server;
    expiring = true;
    EXPECT_EQ(socket_write_line(pair.near.get(), "line\n"), 0);
    EXPECT_EQ(xcom_client_connect("127.0.0.1", server.port, [](HXCOM, char *) { return 0; }),
              nullptr);
    expiring = false;
    EXPECT_EQ(waited, (std::vector<int>{10000, 10000}));
    EXPECT_EQ(selectOne(pair.far.get(), XCOM_SELECT_READ, 0), 0);  // nothing was sent
    pair.far.reset();
    // The peer is gone: a failure, and no SIGPIPE ends the test.
    EXPECT_EQ(socket_write_line(pair.near.get(), "two\n"), -1);
}

}  // namespace
}  // namespace xcom_test
