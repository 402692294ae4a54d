// The application link against a fake application on loopback: framing, reply codes,
// the end of the link, ready tokens and the result of a login or logout.
#include "app_link.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "fake_application.h"
#include "system_log.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

using namespace std::chrono_literals;

class Link : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(link.create_reply_semaphore() && link.create_ready_semaphore());
        ASSERT_TRUE(link.connect("127.0.0.1", app.port()));
        ASSERT_TRUE(app.accept());
    }
    void TearDown() override {
        if (!held) link.release();
    }
    // The reply code of a reply line that is already on its way; what it printed.
    int reply(const std::string &line, std::string *printed) {
        app.send(line + "\n");
        CaptureStdout();
        const int code = link.await_reply();
        *printed = GetCapturedStdout();
        return code;
    }
    SessionLog log;
    AppLink link{log};
    shell_test::FakeApplication app;
    bool held = false;  // the termination thread's hold: the link stays as it is
};

// The other kinds of message are framed as the commands' tests show.
TEST_F(Link, CommandsAreFramedByTheirMode) {
    const std::pair<std::function<void()>, const char *> cases[] = {
        {[&] { link.send_command("a b", CommandMode::kNormal); }, "C: a b"},
        {[&] { link.send_command("a", CommandMode::kCustomerApi); }, "E: a"},
        {[&] { link.send_command("a", CommandMode::kInternal); }, "D: a"},
        {[&] { link.await_reply(), link.send_line("U"); }, "U"},  // waits for no reply
    };
    for (const auto &[send_it, line] : cases) {
        app.send("R: 0\n");  // the reply, already on its way
        send_it();
        EXPECT_EQ(app.received(), line);
    }
}

// An empty reply reads as a closed session while the link itself stays up.
TEST_F(Link, ReplyCodesFollowTheThreeCharacterPrefixAndEachGivesAReadyToken) {
    const std::string blanks(512, ' ');  // a reply's text is cut to 514 characters
    const std::string closed = "error: session is closed by peer\r\n";
    const std::tuple<std::string, int, std::string> cases[] = {
        {"R: " + blanks + "42", 42, ""},
        {"R: " + blanks + "421", 42, ""},
        {"R: 0", 0, ""},
        {"R: 5", 5, ""},
        {"Rxx12", 12, ""},  // only the first character is examined
        {"R: not a number", 0, ""},
        {"R: 99999999999", 2147483647, ""},
        {"R: -3", -3, ""},  // not reported before the registration
        {"R: ", kLinkEnded, closed},
        {"R:", kLinkEnded, closed},
        {"R", kLinkEnded, closed},
    };
    std::string printed;
    for (const auto &[line, code, message] : cases) {
        EXPECT_EQ(reply(line, &printed), code) << line.substr(line.size() - 3);
        EXPECT_EQ(printed, message) << line.substr(line.size() - 3);
    }
    EXPECT_FALSE(link.ended());
    app.send("X: 1\n");  // other lines answer nothing
    link.report_negative_replies();
    EXPECT_EQ(reply("R: -3", &printed), -1);
    EXPECT_EQ(printed, "error: command not found\r\n");
    // Every reply gave the loop one ready token: without them these would wait for ever.
    for (size_t i = 0; i <= std::size(cases); ++i)
        link.take_ready_token();
    link.give_ready_token();
    link.take_ready_token();
}

// A reply that comes just before the application closes still answers its message;
// then nothing can be answered any more, and nothing more is sent.
TEST_F(Link, TheEndOfTheLinkComesAfterTheRepliesBeforeIt) {
    app.send("R: 4\n");
    app.close();
    CaptureStdout();
    EXPECT_EQ(link.await_reply(), 4);
    EXPECT_EQ(link.await_reply(), kLinkEnded);
    EXPECT_TRUE(link.ended());
    EXPECT_EQ(link.send_api("x"), -1);
    EXPECT_EQ(link.send_command("x", CommandMode::kNormal), kLinkEnded);
    EXPECT_EQ(GetCapturedStdout(),
              "error: session is closed by peer\r\nXCOM send error\r\n"
              "error: unknown error executing a command\r\n");
}

TEST_F(Link, FarewellStepsAreRecordedOnceSent) {
    app.send("R: 0\n");
    bool delivered = false;
    link.send_api_request("_control logout x", &delivered, kFarewellLogout);
    EXPECT_TRUE(delivered);
    link.send_line("U", kFarewellUnregister);
    HXCOM connection = nullptr;
    held = true;
    EXPECT_EQ(link.hold_for_farewell(&connection), kFarewellLogout | kFarewellUnregister);
    EXPECT_TRUE(AppLink::send_api_without_reply(connection, "bye"));
    EXPECT_EQ(app.pending(), "E: _control logout x|U|E: bye|");
    // None comes: it returns after the time given, which handled signals do not shorten.
    struct sigaction handled {};
    handled.sa_handler = [](int) {};
    sigaction(SIGWINCH, &handled, nullptr);
    std::atomic<bool> waiting{true};
    std::thread interrupter([&, waiter = pthread_self()] {
        for (; waiting; std::this_thread::sleep_for(5ms))
            pthread_kill(waiter, SIGWINCH);
    });
    const auto start = std::chrono::steady_clock::now();
    link.await_replies(1, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    waiting = false;
    interrupter.join();
    signal(SIGWINCH, SIG_DFL);
    xcom_client_disconnect(connection);  // the link stays held; its reader must end
}

// The result of a login is the next listener line after the request, whatever it says.
// No result can come once the listener's reader has ended, or after the time given; a
// line taken after such a give-up is not the next request's result.
TEST_F(Link, TheResultIsTheNextListenerLineAfterTheRequest) {
    EXPECT_FALSE(link.offer_result("early")) << "no request: the line is printed";
    char result[512] = "";
    std::thread listener([&] {
        EXPECT_EQ(app.received(), "E: _control login");
        app.send("R: 0\nR: 0\nR: 0\n");
        while (!link.offer_result(std::string(600, 'r').c_str()))
            std::this_thread::sleep_for(1ms);
        EXPECT_FALSE(link.offer_result("next")) << "only one line is the result";
    });
    CaptureStdout();
    EXPECT_TRUE(link.request_result("_control login", kNoFarewell, -1, result, sizeof result));
    listener.join();
    EXPECT_EQ(std::string(result), std::string(511, 'r'));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.request_result("one", kNoFarewell, 100, result, sizeof result));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_FALSE(link.offer_result("late")) << "given up: the line is printed";
    std::thread ender([&] {
        EXPECT_EQ(app.received(), "E: one");
        EXPECT_EQ(app.received(), "E: two");
        link.listener_ended();
    });
    EXPECT_FALSE(link.request_result("two", kNoFarewell, -1, result, sizeof result));
    ender.join();
    GetCapturedStdout();
}

}  // namespace
