// The client connection against a loopback peer run by the test.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "test_support.h"
#include "xcom.h"

namespace xcom_test {
namespace {

using namespace std::chrono_literals;

// What the callback received; the callback carries no context, so this is global.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;  // guarded by mutex
    int ends = 0;                    // null lines; guarded by mutex

    // Waits up to 5 seconds until done() holds, holding the mutex.
    template <class Done>
    bool wait(Done done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 5s, done);
    }
} received;

int on_line(HXCOM, char *msg) {
    std::lock_guard lock(received.mutex);
    if (msg == nullptr) {
        ++received.ends;
    } else {
        received.lines.emplace_back(msg);
    }
    received.changed.notify_all();
    return 0;
}

class Client : public ::testing::Test {
  protected:
    void SetUp() override {
        std::lock_guard lock(received.mutex);
        received.lines.clear();
        received.ends = 0;
    }
    // Connects and accepts; the handle is null on failure.
    HXCOM connect() {
        HXCOM handle = xcom_client_connect("localhost", server.port, on_line);
        if (handle != nullptr) peer = server.accept_one();
        return handle;
    }
    Loopback server;
    vela::UniqueFd peer;
};

TEST_F(Client, DeliversLinesThenOneNullLineWhenThePeerCloses) {
    HXCOM handle = connect();
    ASSERT_NE(handle, nullptr);
    send_all(peer.get(), "one\ntwo\n");
    send_all(peer.get(), "thr");
    send_all(peer.get(), "ee\n");
    peer.reset();
    ASSERT_TRUE(received.wait([] { return received.ends > 0; }));
    EXPECT_EQ(received.lines, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(xcom_client_disconnect(handle), 0);
    EXPECT_EQ(received.ends, 1);
}

TEST_F(Client, AnEmptyLineEndsDelivery) {
    HXCOM handle = connect();
    ASSERT_NE(handle, nullptr);
    send_all(peer.get(), "a\r\n\r\nb\n");
    ASSERT_TRUE(received.wait([] { return received.ends > 0; }));
    EXPECT_EQ(xcom_client_disconnect(handle), 0);
    EXPECT_EQ(received.lines, std::vector<std::string>{"a"});
    EXPECT_EQ(received.ends, 1);
}

TEST_F(Client, SendsOneLfTerminatedLineCutTo1024Bytes) {
    HXCOM handle = connect();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(xcom_client_send(handle, ""), 0);
    EXPECT_EQ(xcom_client_send(handle, std::string(2000, 'c').c_str()), 0);
    EXPECT_EQ(xcom_client_send(handle, nullptr), -1);
    EXPECT_EQ(receive(peer.get(), 1026), "\n" + std::string(1024, 'c') + "\n");
    EXPECT_EQ(xcom_client_disconnect(handle), 0);
}

TEST_F(Client, ConcurrentSendersNeverInterleave) {
    HXCOM handle = connect();
    ASSERT_NE(handle, nullptr);
    constexpr int kSenders = 4, kMessages = 300;
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([handle, s] {
            for (int i = 0; i < kMessages; ++i) {
                const std::string body(static_cast<std::size_t>(i * 3 % 1000 + 1), char('a' + s));
                EXPECT_EQ(xcom_client_send(handle, (std::to_string(i) + ":" + body).c_str()), 0);
            }
        });
    }
    Reader reader;
    std::vector<int> next(kSenders, 0);
    for (int n = 0; n < kSenders * kMessages; ++n) {
        ASSERT_GT(reader.read(peer.get()), 0);
        const std::string line = reader.text();
        const std::size_t colon = line.find(':');
        ASSERT_NE(colon, std::string::npos) << line;
        const int s = line.back() - 'a', i = std::stoi(line.substr(0, colon));
        ASSERT_TRUE(s >= 0 && s < kSenders) << line;
        EXPECT_EQ(i, next[s]++);  // each sender's messages arrive whole and in order
        EXPECT_EQ(line.substr(colon + 1), std::string(std::size_t(i * 3 % 1000 + 1), line.back()));
    }
    for (auto &sender : senders)
        sender.join();
    EXPECT_EQ(xcom_client_disconnect(handle), 0);
}

TEST_F(Client, DisconnectStopsABlockedReaderPromptly) {
    HXCOM handle = connect();
    ASSERT_NE(handle, nullptr);
    send_all(peer.get(), "hello\n");
    ASSERT_TRUE(
        received.wait([] { return !received.lines.empty(); }));  // the reader now waits for more
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(xcom_client_disconnect(handle), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.lines.size(), 1u);
    EXPECT_EQ(received.ends, 1) << "one null line, then nothing";
}

TEST_F(Client, FailedConnectsLeaveNoDescriptorOpen) {
    Loopback refusing(false);
    const int before = open_descriptors();
    EXPECT_EQ(xcom_client_connect("no-such-host.invalid", server.port, on_line), nullptr);
    EXPECT_EQ(xcom_client_connect("127.0.0.1", refusing.port, on_line), nullptr);
    EXPECT_EQ(xcom_client_connect(nullptr, server.port, on_line), nullptr);
    EXPECT_EQ(xcom_client_connect("127.0.0.1", server.port, nullptr), nullptr);
    EXPECT_EQ(xcom_client_connect("127.0.0.1", 70000, on_line), nullptr);
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(xcom_client_disconnect(nullptr), -1);
}

}  // namespace
}  // namespace xcom_test
