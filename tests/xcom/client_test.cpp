// The client connection against a loopback peer run by the test.
#include <fcntl.h>
#include <netinet/tcp.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <thread>

#include "tcp_connect.h"
#include "test_support.h"
#include "xcom.h"

namespace xcom_test {
namespace {

// What the callback received; the callback carries no context, so this is global.
std::mutex mutex;
std::condition_variable changed;
std::vector<std::string> lines;  // guarded by mutex
const std::string kEnd = "\n";   // a null line, as lines holds it: no line holds a LF

int on_line(HXCOM, char *msg) {
    std::lock_guard lock(mutex);
    lines.emplace_back(msg ? msg : kEnd);
    changed.notify_all();
    return 0;
}

class Client : public ::testing::Test {
  protected:
    // Connects and accepts; the handle is null on failure.
    HXCOM connect() {
        std::lock_guard lock(mutex);
        lines.clear();
        HXCOM handle = xcom_client_connect("localhost", server.port, on_line);
        if (handle != nullptr) peer = server.accept_one();
        EXPECT_NE(handle, nullptr);
        return handle;
    }
    Loopback server;
    vela::UniqueFd peer;
};

// Lines split anywhere arrive whole until the peer closes (a null piece here) or sends an
// empty line, or until the disconnect wakes the reader waiting for more; then one null
// line, and nothing after.
TEST_F(Client, DeliversLinesUntilTheEndOfTheStreamThenOneNullLine) {
    const struct {
        std::vector<const char *> pieces;
        bool ends;  // by itself, before the disconnect
        std::vector<std::string> lines;
    } cases[] = {{{"one\ntwo\n", "thr", "ee\n", nullptr}, true, {"one", "two", "three", kEnd}},
                 {{"a\r\n\r\nb\n"}, true, {"a", kEnd}},
                 {{"hello\n"}, false, {"hello", kEnd}}};
    for (const auto &c : cases) {
        HXCOM handle = connect();
        for (const char *piece : c.pieces)
            piece ? send_all(peer.get(), piece) : peer.reset();
        // Every line, and the null line too when the stream ends by itself.
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(5),
                                     [&] { return lines.size() == c.lines.size() - !c.ends; }));
        lock.unlock();
        EXPECT_EQ(xcom_client_disconnect(handle), 0);
        EXPECT_EQ(lines, c.lines);
    }
}

// Each message leaves whole as one LF-terminated line of at most 1024 bytes, also from
// concurrent senders.
TEST_F(Client, SendsLinesCutTo1024BytesThatConcurrentSendersNeverInterleave) {
    HXCOM handle = connect();
    EXPECT_EQ(xcom_client_send(handle, ""), 0);
    EXPECT_EQ(xcom_client_send(handle, std::string(2000, 'c').c_str()), 0);
    EXPECT_EQ(xcom_client_send(handle, nullptr), -1);
    EXPECT_EQ(receive(peer.get(), 1026), "\n" + std::string(1024, 'c') + "\n");
    constexpr int kSenders = 4, kMessages = 300;
    const auto message = [](char s, int i) {
        return s + std::to_string(i) + ":" + std::string(i * 3 % 1000 + 1, s);
    };
    std::vector<std::jthread> senders;
    for (char s = 'a'; s < 'a' + kSenders; ++s)
        senders.emplace_back([&, s] {
            for (int i = 0; i < kMessages; ++i)
                EXPECT_EQ(xcom_client_send(handle, message(s, i).c_str()), 0);
        });
    Reader reader;
    std::vector<int> next(kSenders, 0);
    for (int n = 0; n < kSenders * kMessages; ++n) {
        ASSERT_GT(reader.read(peer.get()), 0);
        // Each sender's messages arrive whole and in order.
        EXPECT_EQ(reader.text(), message(reader.line[0], next.at(reader.line[0] - 'a')++));
    }
    senders.clear();  // joins them
    EXPECT_EQ(xcom_client_disconnect(handle), 0);
}

TEST_F(Client, ConnectsWithoutNagleAndFailedConnectsLeaveNoDescriptorOpen) {
    // Every message goes out in one write, which Nagle's rule would hold back.
    const vela::UniqueFd socket = xcom::tcp_connect("127.0.0.1", server.port, 5);
    int on = 0;
    socklen_t size = sizeof on;
    ASSERT_EQ(getsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &on, &size), 0);
    EXPECT_TRUE(on && (fcntl(socket.get(), F_GETFD) & FD_CLOEXEC));

    Loopback refusing(false);
    const auto descriptors =
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    EXPECT_EQ(xcom_client_connect("no-such-host.invalid", server.port, on_line), nullptr);
    EXPECT_EQ(xcom_client_connect("127.0.0.1", refusing.port, on_line), nullptr);
    EXPECT_EQ(xcom_client_connect(nullptr, server.port, on_line), nullptr);
    EXPECT_EQ(xcom_client_connect("127.0.0.1", server.port, nullptr), nullptr);
    EXPECT_EQ(xcom_client_connect("127.0.0.1", 70000, on_line), nullptr);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}), descriptors);
    EXPECT_EQ(xcom_client_disconnect(nullptr), -1);
}

}  // namespace
}  // namespace xcom_test
