// The live log's filters and layout, on lines as syslogd sends them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_monitor.h"
#include "session.h"
#include "stdout_capture.h"

namespace {

// Positions 0-10 date, 11-19 time, level word from 20.
const std::string kLine = "2026-12-05 19:27:22 notice zuz: call started";

class LogFormat : public ::testing::Test {
  protected:
    void SetUp() override {
        pthread_mutex_init(&async_stdout_mut, nullptr);
        clear_log_filters();
        command({"log", "format", "date", "time", "level"});
    }
    // Runs a log command as the dispatcher would; returns what it printed.
    std::string command(std::vector<std::string> words) {
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        StdoutCapture capture;
        if (words[0] == "log")
            log_cmd(static_cast<int>(argv.size()), argv.data());
        else if (words[0] == "show")
            log_show_cmd(static_cast<int>(argv.size()), argv.data());
        else
            log_cull_cmd(static_cast<int>(argv.size()), argv.data());
        return capture.text();
    }
    // What the monitor shows for line, or "<dropped>".
    std::string shown(const std::string &line) {
        char out[1100];
        return format_log_line(line.c_str(), out, sizeof out) ? out : "<dropped>";
    }
};

TEST_F(LogFormat, LayoutChoices) {
    EXPECT_EQ(shown(kLine), kLine);
    command({"log", "format", "time", "level"});
    EXPECT_EQ(shown(kLine), kLine.substr(11));
    command({"log", "format", "date"});
    EXPECT_EQ(shown(kLine), "2026-12-05 zuz: call started");
    command({"log", "format"});
    EXPECT_EQ(shown(kLine), "zuz: call started");
    command({"log", "format", "Date"});
    EXPECT_EQ(shown(kLine), "zuz: call started") << "words are case-sensitive";
    command({"log", "format", "level"});
    EXPECT_EQ(shown(kLine), "notice zuz: call started");
}

TEST_F(LogFormat, ShortLinesAreShownWholeWhateverTheFilters) {
    command({"show", "add", "nomatch"});
    command({"log", "format"});
    EXPECT_EQ(shown("short line of 24 chars.."), "short line of 24 chars..");
    EXPECT_EQ(shown("line of twenty-five chars"), "<dropped>");
}

TEST_F(LogFormat, ShowAndCullFiltersLookOnlyPastTheTimeField) {
    command({"show", "add", "zuz", "vela"});
    EXPECT_EQ(shown(kLine), kLine);
    EXPECT_EQ(shown("2026-12-05 19:27:22 notice kernel: zuz"),
              "2026-12-05 19:27:22 notice kernel: zuz");
    EXPECT_EQ(shown("2026-12-05 19:27:22 notice kernel: link up"), "<dropped>");
    command({"cull", "add", "started"});
    EXPECT_EQ(shown(kLine), "<dropped>") << "a cull filter wins over a show filter";
}

TEST_F(LogFormat, TheDateAndTimeFieldsNeverMatch) {
    command({"show", "add", "19:27"});
    EXPECT_EQ(shown(kLine), "<dropped>");
    EXPECT_EQ(shown("2026-12-05 19:27:22 notice at 19:27"), "2026-12-05 19:27:22 notice at 19:27");
    command({"show", "del", "*"});
    command({"cull", "add", "12-05"});
    EXPECT_EQ(shown(kLine), kLine);
}

TEST_F(LogFormat, FilterTablesHoldTenAndDeleteOneSlotPerArgument) {
    std::vector<std::string> add = {"show", "add"};
    for (int i = 0; i < 12; ++i)
        add.push_back("f" + std::to_string(i));
    command(add);
    std::string listed = command({"show"});
    EXPECT_NE(listed.find("\"f9\""), std::string::npos);
    EXPECT_EQ(listed.find("\"f10\""), std::string::npos);

    command({"cull", "add", "twice", "twice"});
    command({"cull", "del", "twice"});
    EXPECT_NE(command({"cull"}).find("\"twice\""), std::string::npos);
    command({"show", "del", "*"});
    EXPECT_EQ(command({"show"}).find('"'), std::string::npos);
    EXPECT_NE(command({"cull"}).find("\"twice\""), std::string::npos);
}

TEST_F(LogFormat, UsageAndRefusals) {
    std::string usage = command({"show", "list"});
    EXPECT_NE(usage.find("usage: [log] show add <filterstring> [<filterstring>...]"),
              std::string::npos);
    EXPECT_NE(usage.find("       [log] show"), std::string::npos);
    EXPECT_NE(command({"log"}).find("valid log commands: format show cull"), std::string::npos);
    EXPECT_EQ(command({"log", "bogus"}), "");
    EXPECT_NE(command({"cull", "add", std::string(256, 'x')}).find("error: filter longer"),
              std::string::npos);
    EXPECT_EQ(command({"cull"}).find('x'), std::string::npos) << "a long filter is not cut";
}

}  // namespace
