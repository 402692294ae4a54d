// The command loop on the simulated device: framing and replies, a lost application,
// the empty-line prompt, quit and exit, and the reboot dialogue.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "DeviceSession.h"
#include "spine_helpers.h"

using namespace vela::test;
using namespace vela::test::spine;

namespace {

const char *const kTelnetReady = "telnet_client_23_success";
const char *const kApiReady = "telnet_client_24_success";
const std::string kClosedByPeer = "error: session is closed by peer\r\r\n";
const std::string kNotFound = "error: command not found\r\r\n";

bool endsWith(const std::vector<std::string> &lines, const std::vector<std::string> &tail) {
    return lines.size() >= tail.size() && std::equal(tail.rbegin(), tail.rend(), lines.rbegin());
}

// The shell run from sh, which then shows its status and the terminal's modes.
DeviceOptions shellThenModes(const std::string &zuzRules) {
    DeviceOptions options = shellWith({});
    options.command = {"sh", "-c",
                       std::string(kDeviceVela) + " -t telnet; echo \"status=$?\"; stty -a"};
    options.zuzRules = zuzRules;
    return options;
}

bool hasWord(const std::string &text, const std::string &word) {
    std::istringstream in(text);
    for (std::string w; in >> w;) {
        if (w == word || w == word + ";") return true;
    }
    return false;
}

}  // namespace

TEST(SpineLoop, ReplyCodesDecideWhatIsReported) {
    DeviceOptions options = shellWith({"-t", "telnet"});
    options.zuzRules =
        "exact \"C: zero\" => reply 0\n"
        "exact \"C: seven\" => reply 7\n"
        "exact \"C: minus\" => reply -3\n"
        // Lines that do not begin with "R" answer nothing; the real reply still does.
        "exact \"C: noise\" => send \"X: 5\"; send \"hello\"; reply -2\n";
    DeviceSession device(options);
    waitUntilReady(device, kTelnetReady);

    EXPECT_EQ(count(exchange(device, "zero"), "error"), 0u);
    EXPECT_EQ(count(exchange(device, "seven"), "error"), 0u);
    std::string minus = exchange(device, "minus");
    EXPECT_EQ(count(minus, kNotFound), 1u) << minus;
    std::string noise = exchange(device, "noise");
    EXPECT_EQ(count(noise, kNotFound), 1u) << noise;
    device.type("\x04");
    EXPECT_EQ(device.waitExit(), 0);
}

TEST(SpineLoop, ALostApplicationEndsTheSessionAndRestoresTheTerminal) {
    DeviceSession device(shellThenModes("exact \"C: bye\" => drop\n"));
    waitUntilReady(device, kTelnetReady);
    device.type("bye\r");
    ASSERT_TRUE(device.waitFor("bye\r\n"));
    EXPECT_TRUE(device.waitFor(kClosedByPeer));
    ASSERT_TRUE(device.waitFor("status=0\r\n"));
    device.waitExit();
    std::string modes = device.outputSinceMatch();
    EXPECT_TRUE(hasWord(modes, "icanon")) << modes;
    EXPECT_TRUE(hasWord(modes, "echo")) << modes;
    EXPECT_EQ(device.zuzReceived().back(), "C: bye");
}

TEST(SpineLoop, AReplyWithoutACodeEndsTheSession) {
    DeviceOptions bare = shellKeptUp({"-t", "telnet"});
    bare.zuzRules = "exact \"C: ask\" => send \"R\"; noreply\n";
    DeviceOptions colon = shellKeptUp({"-t", "telnet"});
    colon.zuzRules = "exact \"C: ask\" => send \"R:\"; noreply\n";
    DeviceSession first(bare);
    DeviceSession second(colon);
    for (DeviceSession *device : {&first, &second}) {
        waitUntilReady(*device, kTelnetReady);
        device->type("ask\r");
        EXPECT_TRUE(device->waitFor(kClosedByPeer));
        EXPECT_EQ(shellStatus(*device), 0);
        EXPECT_TRUE(device->waitForZuzLine("U"));
    }
}

TEST(SpineLoop, EmptyAndBlankLinesShowThePrompt) {
    DeviceSession echo(shellKeptUp({"-t", "api", "--nobanner"}));
    DeviceSession noecho(shellKeptUp({"-t", "api", "--nobanner", "--noecho"}));
    for (DeviceSession *device : {&echo, &noecho}) {
        waitUntilReady(*device, kApiReady);
        device->type("\r");
        EXPECT_TRUE(device->waitFor("-> "));
        device->type("   \r");
        EXPECT_TRUE(device->waitFor("-> "));
    }
    EXPECT_EQ(echo.output(), "\r\n->    \r\n-> ");
    EXPECT_EQ(noecho.output(), "\r\r\n-> \r\r\n-> ");
    for (DeviceSession *device : {&echo, &noecho}) {
        device->type("\x04");
        EXPECT_EQ(shellStatus(*device), 0);
        EXPECT_TRUE(device->waitForZuzLine("U"));
        // The registration, two settings, the clearing of one: nothing of the lines.
        EXPECT_EQ(device->zuzReceived().size(), 5u);
    }
}

TEST(SpineLoop, QuitAndExitEndTheSessionAfterClearingTheClientSetting) {
    DeviceSession quit(shellKeptUp({"-t", "telnet"}));
    DeviceSession exit(shellKeptUp({"-t", "telnet"}));
    waitUntilReady(quit, kTelnetReady);
    waitUntilReady(exit, kTelnetReady);
    quit.type("quit\r");
    exit.type("  exit  \r");
    for (DeviceSession *device : {&quit, &exit}) {
        EXPECT_EQ(shellStatus(*device), 0);
        EXPECT_TRUE(device->waitForZuzLine("U"));
        EXPECT_TRUE(endsWith(device->zuzReceived(),
                             {"E: execwithoutecho systemsetting telnet_client_23_success True",
                              "E: execwithoutecho systemsetting telnet_client_23 ", "U"}));
    }
}

TEST(SpineLoop, AHungUpTerminalEndsTheSessionCleanly) {
    DeviceSession device(shellKeptUp({"-t", "telnet"}));
    waitUntilReady(device, kTelnetReady);
    device.type("vers");
    ASSERT_TRUE(device.waitFor("vers"));
    device.closeTerminal();
    EXPECT_TRUE(device.waitForZuzLine("U"));
    EXPECT_TRUE(endsWith(device.zuzReceived(),
                         {"E: execwithoutecho systemsetting telnet_client_23 ", "U"}));
}

TEST(SpineLoop, EveryAnswerToTheRebootQuestion) {
    DeviceSession asked(shellKeptUp({"-t", "telnet"}));
    DeviceSession confirmed(shellKeptUp({"-t", "api", "--nobanner"}));
    waitUntilReady(asked, kTelnetReady);
    std::string ptsConfirmed = waitUntilReady(confirmed, kApiReady);

    // Confirmed: runs alongside the other answers, since it takes two seconds.
    confirmed.type("reboot\r");
    EXPECT_TRUE(confirmed.waitFor("reboot, are you sure? <y,n> "));
    confirmed.type("y\r");

    const std::string question = "reboot, are you sure? <y,n> ";
    const std::string aborted = "info: reboot command aborted\r\r\n";
    auto answer = [&](const std::string &line) {
        asked.type("reboot\r");
        EXPECT_TRUE(asked.waitFor(question));
        return exchange(asked, line);
    };
    std::string n = answer("n");
    EXPECT_EQ(count(n, "info:"), 0u) << n;
    EXPECT_EQ(count(n, question), 0u) << n;
    EXPECT_EQ(count(answer("no"), aborted), 1u);
    std::string again = answer("reboot");
    EXPECT_EQ(count(again, aborted), 1u) << again;
    EXPECT_EQ(count(again, question), 0u) << again;
    // Any other single character quits.
    asked.type("reboot\r");
    EXPECT_TRUE(asked.waitFor(question));
    asked.type("x\r");
    EXPECT_EQ(shellStatus(asked), 0);
    EXPECT_TRUE(asked.waitForZuzLine("U"));
    for (const auto &line : asked.zuzReceived()) {
        EXPECT_TRUE(line.rfind("C: echo marker", 0) == 0 || line.rfind("C: ", 0) != 0) << line;
    }
    EXPECT_TRUE(
        endsWith(asked.zuzReceived(), {"E: execwithoutecho systemsetting telnet_client_23 ", "U"}));

    EXPECT_EQ(shellStatus(confirmed), 0);
    EXPECT_TRUE(confirmed.waitForZuzLine("U"));
    EXPECT_TRUE(endsWith(confirmed.zuzReceived(), {"E: reboot now", "U"}));
    EXPECT_TRUE(waitForVelaRecord(confirmed, "API:telnet" + ptsConfirmed + ":2:End of session"));
    EXPECT_EQ(velaRecords(confirmed).back(), "API:telnet" + ptsConfirmed + ":2:End of session");
}
