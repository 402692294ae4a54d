// zuz's scripted misbehaviour: each rule action, and rules changed while it runs.
#include <gtest/gtest.h>

#include "DeviceSession.h"
#include "FakeShell.h"
#include "Rules.h"

using namespace vela::test;

namespace {

struct RuledDevice {
    explicit RuledDevice(const std::string &rules) : device(options(rules)), shell(device) {
        EXPECT_EQ(shell.registerSession(), 0);
    }
    static DeviceOptions options(const std::string &rules) {
        DeviceOptions o;
        o.command = {"sleep", "infinity"};
        o.zuzRules = rules;
        return o;
    }
    DeviceSession device;
    FakeShell shell;
};

}  // namespace

TEST(SimZuzRules, ParserReportsBadLinesAndAddsTheImplicitRun) {
    auto set = sim::zuz::parseRules(
        "# comment\n"
        "\n"
        "exact \"C: a\" => delay 5\n"
        "prefix \"C: \\x41\" times 2 => datagram \"x\\0y\"; reply -3\n"
        "any => bogus\n"
        "exact \"open => run\n"
        "prefix \"C\" => delay 70000\n"
        "prefix \"C\" => sendlong 0\n"
        "exact \"C\" => run extra\n");
    ASSERT_EQ(set.rules.size(), 2u);
    ASSERT_EQ(set.rules[0].actions.size(), 2u);
    EXPECT_EQ(set.rules[0].actions[1].kind, sim::zuz::Action::Kind::Run);
    EXPECT_EQ(set.rules[1].pattern, "C: A");
    EXPECT_EQ(set.rules[1].times, 2);
    EXPECT_EQ(set.rules[1].actions[0].text, std::string("x\0y", 3));
    EXPECT_EQ(set.rules[1].actions.size(), 2u) << "reply decides, no implicit run";
    EXPECT_EQ(set.errors.size(), 5u);
    EXPECT_EQ(set.errors[0], "line 5: unknown action bogus");

    DeviceSession device(RuledDevice::options(""));
    EXPECT_THROW(device.setZuzRules("any => reply"), std::invalid_argument);
}

TEST(SimZuzRules, ReplaceDelayOrWithholdTheReply) {
    RuledDevice d(
        "exact \"C: echo forced\" => reply -3\n"
        "exact \"C: echo both\" => exec; reply 7\n"
        "exact \"C: echo slow\" => delay 150\n"
        "exact \"C: echo silent\" => noreply\n");
    EXPECT_EQ(d.shell.command("C: echo forced"), -3);
    EXPECT_TRUE(d.shell.datagrams(50ms).empty()) << "a replaced reply does not execute";
    EXPECT_EQ(d.shell.command("C: echo both"), 7);
    EXPECT_EQ(d.shell.datagram(), "both\n");

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.shell.command("C: echo slow"), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);

    ASSERT_TRUE(d.shell.send("C: echo silent"));
    EXPECT_FALSE(d.shell.readLine(100ms));
    EXPECT_EQ(d.shell.command("C: version"), 0);
}

TEST(SimZuzRules, SendRawXcomLinesAndDrop) {
    RuledDevice d(
        "exact \"C: odd\" => send \"hello\"; send \"R\"; send \"\"; sendraw \"R: 4\"; "
        "sendraw \"2\\n\"; sendlong 20000; noreply\n"
        "exact \"C: bye\" => drop\n");
    ASSERT_TRUE(d.shell.send("C: odd"));
    EXPECT_EQ(d.shell.readLine(), "hello");
    EXPECT_EQ(d.shell.readLine(), "R");
    EXPECT_EQ(d.shell.readLine(), "");
    EXPECT_EQ(d.shell.readLine(), "R: 42") << "one line written in two pieces";
    EXPECT_EQ(d.shell.readLine(), std::string(19999, 'x'));
    ASSERT_TRUE(d.shell.send("C: bye"));
    EXPECT_TRUE(d.shell.closedByPeer());
}

TEST(SimZuzRules, SendChosenDatagramsAroundTheReply) {
    RuledDevice d(
        "exact \"C: echo x\" => datagram \"one\\ntwo\\n\"; datagram \"half \"; "
        "datagram \"line\\n\"; run; datagram \"%n\\0\\x01!\\n\"\n");
    EXPECT_EQ(d.shell.command("C: echo x"), 0);
    std::vector<std::string> expected = {"one\ntwo\n", "half ", "line\n", "x\n",
                                         std::string("%n\0\x01!\n", 6)};
    EXPECT_EQ(d.shell.datagrams(), expected);
}

TEST(SimZuzRules, ForceOrSuppressTheLoginResult) {
    RuledDevice d(
        "prefix \"E: _control login\" times 1 => result \"lockout\"\n"
        "prefix \"E: _control logout\" => noresult\n");
    std::string login = "E: _control login \"61646d696e\" \"\" /dev/pts/99";
    EXPECT_EQ(d.shell.command(login), 0);
    EXPECT_EQ(d.shell.datagram(), "lockout\n");
    EXPECT_EQ(d.shell.command(login), 0);
    EXPECT_EQ(d.shell.datagram(), "success\n") << "times 1 is used up";
    EXPECT_EQ(d.shell.command("E: _control logout /dev/pts/99"), 0);
    EXPECT_FALSE(d.shell.datagram(100ms));
}

TEST(SimZuzRules, FollowsTheRulesFileWhileRunning) {
    RuledDevice d("");
    EXPECT_EQ(d.shell.command("C: version"), 0);
    d.device.setZuzRules("exact \"C: version\" => reply 9\n");
    EXPECT_EQ(d.shell.command("C: version"), 9);
    d.device.setZuzRules("any => reply 3\n");
    EXPECT_EQ(d.shell.command("C: version"), 3);
    d.device.setZuzRules("");
    EXPECT_EQ(d.shell.command("C: version"), 0);
    ASSERT_EQ(d.device.runInDevice({"rm", "/opt/sim/zuz-rules"}).status, 0);
    EXPECT_EQ(d.shell.command("C: version"), 0);
}
