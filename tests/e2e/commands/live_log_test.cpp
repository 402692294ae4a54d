// The live system log of a telnet session: what appears, when, and from where. The
// filters and layouts themselves are unit-tested (tests/shell/log_format_test.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "ShellOnDevice.h"

using namespace vela::test;

namespace {

// The whole screen line that ends in tail (which must be unique), once it is shown.
std::string shownLine(ShellSession &shell, const std::string &tail) {
    if (!shell.waitFor(tail + "\r\n")) return "(not shown: " + tail + ")";
    const std::string out = shell.output();
    const size_t stop = out.find(tail + "\r\n"), start = out.rfind('\n', stop);
    return out.substr(start + 1, stop + tail.size() - start - 1);
}

bool onScreen(ShellSession &shell, const std::string &text) {
    return shell.output().find(text) != std::string::npos;
}

// A login with a password, so that the log is not shown at once.
DeviceOptions withPassword(std::vector<std::string> args = {"-t", "telnet"}) {
    return shellWith(std::move(args), {{"sw", "secret"}});
}

}  // namespace

// Nothing logged before the login appears. A line that arrives while the user types
// appears after the line was handled. Lines as syslogd sends them, then datagrams
// straight to the listener socket: an empty datagram, which anyone may send, stops
// nothing; only 1024 bytes of a datagram are read. A log line waiting for the output
// lock must not be flushed right after the first character of a line: the editor
// reports typing before it releases the lock. Losing syslogd leaves the session alone.
// Links planted where the shell creates its listener sockets are replaced, never
// followed: both sockets work.
TEST(CommandsLiveLog, WhatTheLogReaderShowsAndWhen) {
    DeviceOptions options = withPassword();
    options.command = {"sh", "-c",
                       "cd /tmp && for t in api log; do echo keep > $t; chmod 600 $t; done; "
                       "for n in $(seq 0 99); do ln -s /tmp/api apiasynclisteners/vela$n; "
                       "ln -s /tmp/log sysloglisteners/vela$n; done; exec " +
                           std::string(kDeviceVela) + " -t telnet"};
    ShellSession shell(options, ShellSession::kAtOnce);
    ASSERT_TRUE(shell.waitFor("Password:"));
    shell.log("<13>probe: before login");
    ASSERT_TRUE(waitForRecord(shell, "before login"));
    ASSERT_TRUE(shell.logQueueEmpty());
    shell.type("secret\r");
    ASSERT_TRUE(shell.waitForZuzLine(kLoopReady));
    const std::string leaf = "vela" + ttyOf(shell).substr(9);
    EXPECT_EQ(shell
                  .runInDevice({"sh", "-c",
                                "cd /tmp && stat -c '%F %a' apiasynclisteners/" + leaf +
                                    " sysloglisteners/" + leaf + " api log && cat api log"})
                  .out,
              "socket 666\nsocket 666\nregular file 600\nregular file 600\nkeep\nkeep\n");
    shell.type("test typed");
    ASSERT_TRUE(shell.waitFor("test typed"));
    shell.log("<13>probe: while typing");
    ASSERT_TRUE(waitForRecord(shell, "while typing"));
    ASSERT_TRUE(shell.logQueueEmpty());
    EXPECT_FALSE(onScreen(shell, "while typing"));
    shell.type("\r");
    EXPECT_TRUE(shell.waitFor("argv[1]=typed\r\r\n") && shell.waitFor("while typing"));

    shell.forward("echo hi", "C: echo hi");
    const std::string date = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";
    EXPECT_TRUE(std::regex_match(shownLine(shell, "info zuz: " + ttyOf(shell) + ": echo"),
                                 std::regex(date + "info zuz: /dev/pts/\\d+: echo")));
    shell.log("<69>vela[77]: API:/dev/pts/9:3:IN:status");  // an API session's (UUCP, notice)
    EXPECT_TRUE(std::regex_match(shownLine(shell, "API:/dev/pts/9:3:IN:status"),
                                 std::regex(date + "notice vela: API:/dev/pts/9:3:IN:status")));
    shell.log("<13>probe: 50%s%n%d done");  // shown literally
    EXPECT_TRUE(shell.waitFor("notice probe: 50%s%n%d done\r\n"));
    shell.runThenSync("log format");
    auto socket = shell.connectDatagram("/tmp/sysloglisteners/vela" + ttyOf(shell).substr(9));
    const std::string longLine = "2026-01-01 00:00:00 notice nowhere " + std::string(3000, 'z');
    for (const std::string &line : {std::string(), longLine, std::string("after\n")})
        EXPECT_TRUE(sendDatagram(socket, line));
    EXPECT_TRUE(shell.waitFor("nowhere " + longLine.substr(35, 1024 - 35) + "\r\nafter\r\n"));

    std::atomic<bool> typing{true};
    std::thread logger([&] {
        auto log = shell.connectDatagram("/dev/log");
        for (int i = 0; typing; ++i) {
            sendDatagram(log, "<13>probe: background " + std::to_string(i));
            if (i % 8 == 7) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    for (int i = 0; i < 40; ++i) {
        const std::string line = "test line" + std::to_string(i);
        shell.type(line.substr(0, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        shell.type(line.substr(1) + "\r");
        EXPECT_TRUE(shell.waitFor("argv[1]=line" + std::to_string(i) + "\r\r\n"));
        EXPECT_TRUE(onScreen(shell, line + "\r\n")) << "the echo of \"" << line << "\" was split";
    }
    typing = false;
    logger.join();

    ASSERT_TRUE(killDaemon(shell, "syslogd"));
    shell.forward("echo still here", "C: echo still here");
    EXPECT_TRUE(shell.waitFor("still here\r\n"));
    EXPECT_FALSE(onScreen(shell, "logReaderThread"));
    EXPECT_FALSE(onScreen(shell, "before login"));
    EXPECT_FALSE(onScreen(shell, "session registered"));
    shell.end();
}

TEST(CommandsLiveLog, LogViewerShowsTheLogWithoutLogin) {
    ShellSession shell(withPassword({"--logviewer"}), ShellSession::kAtOnce);
    ASSERT_TRUE(shell.waitFor("Log viewer mode (Ctrl-C to quit) ..."));
    // The viewer takes up the log once its listener is in place: keep logging until then.
    int sent = 0;
    EXPECT_TRUE(eventually([&] {
        shell.log("<13>probe: viewer " + std::to_string(sent++));
        return shell.waitFor("notice probe: viewer", std::chrono::milliseconds(20));
    }));
    EXPECT_FALSE(onScreen(shell, "Password:"));
    shell.type("\x03");
    EXPECT_TRUE(shell.waitExit().has_value());
}
