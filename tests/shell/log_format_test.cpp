// The live log's filters, layouts and commands, on lines as syslogd sends them.
#include <gtest/gtest.h>

#include <string>

#include "commands.h"
#include "log_monitor.h"
#include "session.h"

namespace {

// Positions 0-10 date, 11-19 time, level word from 20.
const std::string kLine = "2026-12-05 19:27:22 notice zuz: call started";

class LogFormat : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session.output.create_mutex()); }
    // Runs a "log", "show" or "cull" line through the dispatcher; what it printed.
    std::string command(const std::string &line) {
        CommandContext context{session, loop};
        testing::internal::CaptureStdout();
        process_command(context, line.c_str());
        return testing::internal::GetCapturedStdout();
    }
    // What the monitor shows for line, or "<dropped>".
    std::string shown(const std::string &line) {
        char out[1100];
        OutputGuard guard(session.output);
        return session.monitor.format_line(guard, line.c_str(), out, sizeof out) ? out
                                                                                 : "<dropped>";
    }
    Session session;
    LoopState loop;
};

TEST_F(LogFormat, LayoutChoices) {
    const std::pair<const char *, std::string> cases[] = {
        {"log format date time level", kLine},
        {"log format time level", kLine.substr(11)},
        {"log format time date", "2026-12-05 19:27:22 zuz: call started"},
        {"log format date", "2026-12-05 zuz: call started"},
        {"log format", "zuz: call started"},
        {"log format Date", "zuz: call started"},  // words are case-sensitive
        {"log format level", "notice zuz: call started"},
    };
    for (const auto &[line, layout] : cases) {
        command(line);
        EXPECT_EQ(shown(kLine), layout) << line;
    }
}

TEST_F(LogFormat, ShortLinesAreShownWholeWhateverTheFilters) {
    command("show add nomatch");
    command("log format");
    EXPECT_EQ(shown("short line of 24 chars.."), "short line of 24 chars..");
    EXPECT_EQ(shown("line of twenty-five chars"), "<dropped>");
}

// Show and cull filters look only past the time field; a cull filter wins.
TEST_F(LogFormat, Filters) {
    const std::string other = "2026-12-05 19:27:22 notice kernel: ";
    command("show add zuz vela");
    EXPECT_EQ(shown(kLine), kLine);
    EXPECT_EQ(shown(other + "zuz"), other + "zuz");
    EXPECT_EQ(shown(other + "link up"), "<dropped>");
    command("cull add started");
    EXPECT_EQ(shown(kLine), "<dropped>");
    command("log show del zuz vela");
    command("log cull del *");
    command("show add 19:27");
    EXPECT_EQ(shown(kLine), "<dropped>");
    EXPECT_EQ(shown(other + "at 19:27"), other + "at 19:27");
    command("show del *");
    command("cull add 12-05");
    EXPECT_EQ(shown(kLine), kLine);
}

TEST_F(LogFormat, FilterTablesHoldTenAndDeleteOneSlotPerArgument) {
    command("show add f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 f10 f11");
    const std::string listed = command("show");
    EXPECT_NE(listed.find("\"f9\""), std::string::npos);
    EXPECT_EQ(listed.find("\"f10\""), std::string::npos);
    command("cull add twice twice");
    command("cull del twice");
    EXPECT_EQ(command("cull"), "Active cull filters:\r\n--------------------\r\n\"twice\"\r\n");
    command("show del *");
    EXPECT_EQ(command("show").find('"'), std::string::npos);
}

TEST_F(LogFormat, UsageAndRefusals) {
    EXPECT_EQ(command("show list"),
              "usage: [log] show add <filterstring> [<filterstring>...]\r\n"
              "       [log] show del <filterstring> [<filterstring>...]\r\n"
              "       [log] show del *\r\n"
              "       [log] show\r\n");
    EXPECT_EQ(command("log cull list").substr(0, 25), "usage: [log] cull add <fi");
    EXPECT_EQ(command("log"), "valid log commands: format show cull\r\n");
    EXPECT_EQ(command("log bogus words"), "");
    // A long filter is refused, not cut; the other words of the line are added.
    EXPECT_EQ(
        command("show add " + std::string(256, 'L') + " ok " + std::string(255, 'M')),
        "error: filter longer than 255 characters not added: " + std::string(40, 'L') + "...\r\n");
    EXPECT_EQ(command("show"), "Active show filters:\r\n--------------------\r\n\"ok\"\r\n\"" +
                                   std::string(255, 'M') + "\"\r\n");
}

}  // namespace
