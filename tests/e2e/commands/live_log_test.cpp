// The live system log of a telnet session: what appears, when, and in which layout.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <regex>
#include <thread>

#include "ShellSession.h"

using namespace vela::test;

namespace {

const std::string kDate = R"(\d{4}-\d\d-\d\d )";
const std::string kTime = R"(\d\d:\d\d:\d\d )";

// The whole screen line that ends in tail (which must be unique), once it is shown.
std::string shownLine(ShellSession &shell, const std::string &tail) {
    const std::string end = tail + "\r\n";
    if (!shell.device().waitFor(end)) return "(not shown: " + tail + ")";
    std::string out = shell.device().output();
    size_t stop = out.find(end);
    size_t start = out.rfind('\n', stop);
    start = start == std::string::npos ? 0 : start + 1;
    return out.substr(start, stop + tail.size() - start);
}

// The screen around the last occurrence of text, for messages.
std::string around(ShellSession &shell, const std::string &text) {
    std::string out = shell.device().output();
    size_t at = out.rfind(text);
    if (at == std::string::npos) return "(absent)";
    size_t from = at > 120 ? at - 120 : 0;
    return out.substr(from, at + text.size() + 20 - from);
}

bool shown(ShellSession &shell, const std::string &text) {
    return shell.device().output().find(text) != std::string::npos;
}

bool recorded(ShellSession &shell, const std::string &message) {
    return eventually([&] {
        for (const auto &record : shell.device().syslogRecords())
            if (record.message == message) return true;
        return false;
    });
}

}  // namespace

TEST(CommandsLiveLog, LinesOfZuzAndOfShellsAppearWhole) {
    ShellSession shell;
    shell.forward("echo hi", "C: echo hi");
    EXPECT_TRUE(std::regex_match(shownLine(shell, "info zuz: " + shell.ttyName() + ": echo"),
                                 std::regex(kDate + kTime + "info zuz: /dev/pts/\\d+: echo")));
    // What the shell of an API session logs (LOG_UUCP, notice).
    shell.log("<69>vela[77]: API:/dev/pts/9:3:IN:status");
    EXPECT_TRUE(
        std::regex_match(shownLine(shell, "API:/dev/pts/9:3:IN:status"),
                         std::regex(kDate + kTime + "notice vela: API:/dev/pts/9:3:IN:status")));
    shell.end();
}

TEST(CommandsLiveLog, ShowAndCullFiltersDecideWhatAppears) {
    ShellSession shell;
    shell.runThenSync("show add apple pear");
    for (const char *message : {"apple 1", "cherry 2", "pear 3"})
        shell.log(std::string("<13>probe: ") + message);
    shownLine(shell, "probe: pear 3");
    EXPECT_TRUE(shown(shell, "probe: apple 1\r\n"));
    EXPECT_FALSE(shown(shell, "cherry 2"));

    shell.runThenSync("log show del pear apple");
    shell.runThenSync("cull add secret");
    shell.runThenSync("show add open");
    EXPECT_EQ(shell.run("show", "\"open\"\r\r\n"),
              "Active show filters:\r\r\n--------------------\r\r\n\"open\"\r\r\n");
    EXPECT_EQ(shell.run("log cull", "\"secret\"\r\r\n"),
              "Active cull filters:\r\r\n--------------------\r\r\n\"secret\"\r\r\n");
    for (const char *message : {"open secret 4", "closed 5", "open 6"})
        shell.log(std::string("<13>probe: ") + message);
    shownLine(shell, "open 6");
    EXPECT_FALSE(shown(shell, "secret 4"));
    EXPECT_FALSE(shown(shell, "closed 5"));

    shell.runThenSync("cull del *");
    shell.runThenSync("show del open");
    shell.log("<13>probe: secret 7");
    shownLine(shell, "secret 7");
    shell.end();
}

TEST(CommandsLiveLog, FormatChoosesTheFieldsShown) {
    ShellSession shell;
    const std::pair<const char *, std::string> cases[] = {
        {"log format date time level", kDate + kTime + "notice probe: f0"},
        {"log format time level", kTime + "notice probe: f1"},
        {"log format date", kDate + "probe: f2"},
        {"log format", "probe: f3"},
        {"log format Date", "probe: f4"},
        {"log format level", "notice probe: f5"},
        {"log format time date", kDate + kTime + "probe: f6"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        shell.runThenSync(cases[i].first);
        std::string tail = "probe: f" + std::to_string(i);
        shell.log("<13>" + tail);
        std::string line = shownLine(shell, tail);
        EXPECT_TRUE(std::regex_match(line, std::regex(cases[i].second)))
            << cases[i].first << ": " << line;
    }
    shell.end();
}

TEST(CommandsLiveLog, ShortLinesAppearWholeWhateverTheFilters) {
    ShellSession shell;
    shell.runThenSync("show add nowhere");
    shell.runThenSync("cull add hars");
    shell.runThenSync("log format");
    // syslogd's lines are always longer; a short line can only come straight to the socket.
    std::string registration = shell.device().zuzReceived().at(0);  // "R: telnet PATH TTY"
    size_t name = registration.find("/vela");
    std::string listener =
        "/tmp/sysloglisteners" + registration.substr(name, registration.find(' ', name) - name);
    auto socket = shell.device().connectDatagram(listener);
    ASSERT_TRUE(socket) << listener;
    // Only the first 1024 bytes of a datagram are read.
    const std::string longLine = "2026-01-01 00:00:00 notice nowhere " + std::string(3000, 'z');
    // An empty datagram, which anyone may send, carries nothing and stops nothing.
    ASSERT_EQ(::send(socket.get(), "", 0, 0), 0);
    for (std::string line :
         {longLine, std::string("a short line of 24 chars\n"),
          std::string("25 characters, no filter!\n"), std::string("short 20 characters.\n")})
        ASSERT_GT(::send(socket.get(), line.data(), line.size(), 0), 0);
    EXPECT_EQ(shownLine(shell, "a short line of 24 chars"), "a short line of 24 chars");
    EXPECT_TRUE(shown(shell, "\r\nnowhere " + longLine.substr(35, 1024 - 35) + "\r\n"));
    EXPECT_EQ(shownLine(shell, "short 20 characters."), "short 20 characters.");
    EXPECT_FALSE(shown(shell, "25 characters")) << "the show filter drops it";
    shell.end();
}

TEST(CommandsLiveLog, ShowListAndLongFiltersGetTheirMessages) {
    ShellSession shell;
    EXPECT_EQ(shell.run("show list", "[log] show\r\r\n"),
              "usage: [log] show add <filterstring> [<filterstring>...]\r\r\n"
              "       [log] show del <filterstring> [<filterstring>...]\r\r\n"
              "       [log] show del *\r\r\n"
              "       [log] show\r\r\n");
    EXPECT_EQ(shell.run("log cull list", "[log] cull\r\r\n").substr(0, 25),
              "usage: [log] cull add <fi");
    EXPECT_EQ(shell.run("log", "\n"), "valid log commands: format show cull\r\r\n");
    EXPECT_EQ(shell.runThenSync("log bogus words"),
              "log bogus words\r\n" + std::string(kSyncOutput));
    const std::string refused =
        "error: filter longer than 255 characters not added: " + std::string(40, 'L') + "...\r\r\n";
    EXPECT_EQ(shell.run("show add " + std::string(256, 'L') + " ok", refused), refused);
    shell.runThenSync("show add " + std::string(255, 'M'));
    EXPECT_EQ(shell.run("show", "\r\r\n\"" + std::string(255, 'M') + "\"\r\r\n"),
              "Active show filters:\r\r\n--------------------\r\r\n\"ok\"\r\r\n\"" +
                  std::string(255, 'M') + "\"\r\r\n")
        << "the other words of the line were added";
    EXPECT_TRUE(shell.newZuzLines().empty());
    shell.end();
}

TEST(CommandsLiveLog, NothingLoggedBeforeLoginAppears) {
    DeviceOptions options;
    options.settings = {{"sw", "secret"}};
    ShellSession shell(options, false);
    ASSERT_TRUE(shell.device().waitFor("Password:"));
    shell.log("<13>probe: before login");
    ASSERT_TRUE(recorded(shell, "before login"));
    ASSERT_TRUE(shell.logQueueEmpty());
    shell.device().type("secret\r");
    ASSERT_TRUE(shell.device().waitForZuzLine(kLoopReady));
    shell.log("<13>probe: after login");
    shownLine(shell, "after login");
    EXPECT_FALSE(shown(shell, "before login"));
    EXPECT_FALSE(shown(shell, "session registered"));
    shell.end();
}

TEST(CommandsLiveLog, LineArrivingWhileTypingAppearsAfterEnter) {
    ShellSession shell;
    shell.device().type("test typed");
    ASSERT_TRUE(shell.device().waitFor("test typed"));
    shell.log("<13>probe: while typing");
    ASSERT_TRUE(recorded(shell, "while typing"));
    ASSERT_TRUE(shell.logQueueEmpty());
    EXPECT_FALSE(shown(shell, "while typing"));
    shell.device().type("\r");
    shownLine(shell, "while typing");
    std::string out = shell.device().output();
    EXPECT_LT(out.find("argv[1]=typed\r\r\n"), out.find("while typing"))
        << "held back until the line was handled";
    shell.end();
}

TEST(CommandsLiveLog, LosingSyslogdLeavesTheSessionAlone) {
    ShellSession shell;
    shell.log("<13>probe: first");
    shownLine(shell, "first");
    ASSERT_TRUE(shell.device().signalDaemon("syslogd", SIGKILL));
    EXPECT_TRUE(eventually([&] {
        return shell.device().runInDevice({"sh", "-c", "pidof syslogd"}).status != 0;
    }));
    EXPECT_EQ(shell.run("test after", "argv[1]=after\r\r\n"),
              "argc=2\r\r\nargv[0]=test\r\r\nargv[1]=after\r\r\n");
    shell.forward("echo still here", "C: echo still here");
    EXPECT_TRUE(shell.device().waitFor("still here\r\n"));
    EXPECT_FALSE(shown(shell, "logReaderThread"));
    shell.end();
}

TEST(CommandsLiveLog, LogViewerShowsTheLogWithoutLogin) {
    DeviceOptions options;
    options.command = {kDeviceVela, "--logviewer"};
    options.settings = {{"sw", "secret"}};
    ShellSession shell(options, false);
    ASSERT_TRUE(shell.device().waitFor("Log viewer mode (Ctrl-C to quit) ..."));
    // The viewer takes up the log once its listener is in place: keep logging until then.
    int sent = 0;
    EXPECT_TRUE(eventually([&] {
        shell.log("<13>probe: viewer " + std::to_string(sent++));
        return shell.device().waitFor("notice probe: viewer", std::chrono::milliseconds(20));
    }));
    EXPECT_FALSE(shown(shell, "Password:"));
    shell.device().type("\x03");
    EXPECT_TRUE(shell.device().waitExit().has_value());
}

// A log line waiting for the output lock must not be flushed right after the first
// character of a line: the editor reports typing before it releases the lock.
TEST(CommandsLiveLog, LogLinesNeverSplitTheEchoOfATypedLine) {
    ShellSession shell;
    std::atomic<bool> typing{true};
    std::thread logger([&] {
        auto socket = shell.device().connectDatagram("/dev/log");
        for (int i = 0; typing; ++i) {
            std::string line = "<13>probe: background " + std::to_string(i);
            ::send(socket.get(), line.data(), line.size(), 0);
            if (i % 8 == 7) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    for (int i = 0; i < 40; ++i) {
        std::string line = "test line" + std::to_string(i);
        shell.device().type(line.substr(0, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        shell.device().type(line.substr(1) + "\r");
        ASSERT_TRUE(shell.device().waitFor("argv[1]=line" + std::to_string(i) + "\r\r\n"));
        EXPECT_NE(shell.device().output().find(line + "\r\n"), std::string::npos)
            << "the echo of \"" << line << "\" was split: " << around(shell, line.substr(1));
    }
    typing = false;
    logger.join();
    shell.end();
}
