// The local commands and their dispatcher, with a fake application on the link: what
// each line prints, what it sends and what it changes; the live log's filters and layouts
// set by its commands. Beside them, the directory import.
#include "commands.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "cle.h"
#include "command_loop.h"
#include "fake_application.h"
#include "import.h"
#include "log_monitor.h"
#include "session.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const std::string kNeedsMore = "error: command needs more parameters to execute successfully\r\n";
const std::string kIllegal = "error: command has illegal parameter(s)\r\n";
const std::string kOutOfRange = "error: value out of range. valid range 1..64\r\n";
const std::string kBadReference = "error: invalid command history reference\r\n";
// A live log line as syslogd sends it: positions 0-10 date, 11-19 time, level word from 20.
const std::string kLine = "2026-12-05 19:27:22 notice zuz: call started";

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.output.create_mutex());
        ASSERT_TRUE(session.link.create_reply_semaphore() && session.link.create_ready_semaphore());
        ASSERT_TRUE(session.link.connect("127.0.0.1", app.port()));
        ASSERT_TRUE(app.accept());
        session.link.report_negative_replies();
    }
    void TearDown() override { session.link.release(); }

    struct Outcome {
        bool handled;
        std::string printed, sent;  // sent: the lines the application got, "|"-terminated
    };
    // Runs line as the loop would offer it; replies are on their way beforehand.
    Outcome run(const std::string &line, int replies = 0) {
        for (int i = 0; i < replies; ++i)
            app.send("R: 0\n");
        CommandContext context{session, loop};
        CaptureStdout();
        Outcome outcome{process_command(context, line.c_str()), GetCapturedStdout(), ""};
        for (int i = 0; i < replies; ++i)
            outcome.sent += app.received() + "|";
        return outcome;
    }
    // Runs the lines in turn; what they printed together.
    std::string printed(std::initializer_list<std::string> lines) {
        std::string all;
        for (const std::string &line : lines)
            all += run(line).printed;
        return all;
    }
    // What the live log shows for line, or "<dropped>".
    std::string shown(const std::string &line) {
        char out[1100];
        OutputGuard guard(session.output);
        return session.monitor.format_line(guard, line.c_str(), out, sizeof out) ? out
                                                                                 : "<dropped>";
    }

    Session session;
    LoopState loop;
    shell_test::FakeApplication app;
};

TEST_F(Commands, WhatEachLinePrintsAndSends) {
    const struct {
        std::string line;
        int replies;  // lines sent, each answered
        bool handled;
        std::string printed, sent;
    } cases[] = {
        {"version", 0, false, "", ""},
        {"# a comment", 0, true, "", ""},
        {"say \"x\\", 0, true, "Invalid command\r\n", ""},
        {"test a \"b c\"", 0, true, "argc=3\r\nargv[0]=test\r\nargv[1]=a\r\nargv[2]=b c\r\n", ""},
        {"shell", 0, true, "error: command not found\r\n", ""},
        {"crashreport enable", 0, true, "error: command not found\r\n", ""},  // a release build
        {"session", 0, true, kNeedsMore, ""},
        {"session list", 0, true, kIllegal, ""},
        {"session name", 0, true, kNeedsMore, ""},
        {"session name a b", 0, true, kIllegal, ""},
        {"session find kitchen", 1, true, "", "N: find kitchen|"},
        {"api", 0, true, "", ""},
        {"api version  now", 1, true, "", "E: version now|"},
        {"api setpassword u r old new", 1, true, "", "E: setpassword u r 6f6c64 6e6577|"},
        {"sys status", 1, true, "", "D: status|"},
        {"kbox \"two words\"", 1, true, "", "D: two words|"},
        {"sys", 0, true, "", ""},
        {"setenv", 0, true, kNeedsMore, ""},
        {"setenv a b c", 0, true, kIllegal, ""},
        {"setenv \"\"", 0, true, kIllegal, ""},
        {"setenv a \"\"", 0, true, kIllegal, ""},
        // The tools' limits: names of at most 128 characters, values of at most 372.
        {"setenv " + std::string(129, 'n') + " v", 0, true, kIllegal, ""},
        {"setenv a " + std::string(373, 'v'), 0, true, kIllegal, ""},
        {"test \"%s%n%x\" \"\\x1b[2J\" 100%", 0, true,
         "argc=4\r\nargv[0]=test\r\nargv[1]=%s%n%x\r\nargv[2]=\x1b[2J\r\nargv[3]=100%\r\n", ""},
        {"session name \"%n%s\"", 1, true, "", "N: name %n%s|"},
        {"kbox %n%s", 1, true, "", "D: %n%s|"},
        {"cmdecho", 0, true, kNeedsMore, ""},
        {"cmdecho maybe", 0, true, "error: command has illegal parameters\r\n", ""},
        {"cmdecho on off", 0, true, "error: command has illegal parameters\r\n", ""},
        {"log", 0, true, "valid log commands: format show cull\r\n", ""},
        {"log nothing", 0, true, "", ""},
        // A secret too long once encoded is never sent cut.
        {"sys setpassword a b c " + std::string(250, 's'), 0, true,
         "error: command too long once its secrets are encoded; not sent\r\n", ""},
    };
    for (const auto &c : cases) {
        const Outcome o = run(c.line, c.replies);
        EXPECT_EQ(o.handled, c.handled) << c.line;
        EXPECT_EQ(o.printed, c.printed) << c.line;
        EXPECT_EQ(o.sent, c.sent) << c.line;
    }
    EXPECT_EQ(app.pending(), "");
}

TEST_F(Commands, SettingsOfTheLoop) {
    EXPECT_EQ(printed({"cmdecho off"}), "cmdecho off\r\n");
    EXPECT_FALSE(loop.echo);
    EXPECT_EQ(printed({"cmdecho on", "prompt", "prompt", "prompt off", "prompt ON"}),
              "cmdecho on\r\nprompt disabled\r\nprompt enabled\r\nprompt disabled\r\n"
              "prompt enabled\r\n");
    EXPECT_TRUE(loop.echo);
    EXPECT_FALSE(loop.end_now);
    run("exit now");
    EXPECT_TRUE(loop.end_now);
}

// In the sticky modes only the commands of every mode stay local.
TEST_F(Commands, StickyModesLeaveOnlySomeCommandsLocal) {
    EXPECT_EQ(printed({"apicmds"}), "Entering sticky customer api commands *ONLY* mode...\r\n");
    EXPECT_EQ(loop.mode, CommandMode::kCustomerApi);
    for (const char *line : {"test", "api x", "log", "show", "cull", "prompt", "sys x", "kbox x",
                             "crashreport", "apicmds", "devcmds"})
        EXPECT_FALSE(run(line).handled) << line;
    for (const char *line :
         {"shell", "cmdecho", "hist", "history", "repeat", "session", "setenv", "!"})
        EXPECT_TRUE(run(line).handled) << line;
    loop.mode = CommandMode::kNormal;
    EXPECT_EQ(printed({"devcmds"}), "Entering sticky internal commands *ONLY* mode...\r\n");
    EXPECT_EQ(loop.mode, CommandMode::kInternal);
    EXPECT_FALSE(run("test").handled);
}

TEST_F(Commands, HistoryAndRepeat) {
    for (const char *line : {"version", "status", "repeat 1"})  // recorded before it runs
        cle_history_add(line);
    EXPECT_EQ(printed({"history"}),
              "command history:\r\n 1  version\r\n 2  status\r\n 3  repeat 1\r\n"
              "3 commands (only the last 64 shown)\r\nhistory success\r\n");
    loop.mode = CommandMode::kCustomerApi;
    EXPECT_EQ(run("repeat 1", 1).sent, "E: version|") << "sent as the mode frames it";
    EXPECT_STREQ(cle_history(2), "version") << "the repeat's own entry is replaced";
    const std::pair<const char *, std::string> refused[] = {
        {"repeat", kIllegal},       {"repeat 1 2", kIllegal},    {"repeat 0", kOutOfRange},
        {"repeat 65", kOutOfRange}, {"repeat 8", kBadReference},  // itself, the newest
        {"! 10", kBadReference},
    };
    for (const auto &[line, message] : refused) {
        cle_history_add(line);
        EXPECT_EQ(run(line).printed, message) << line;
    }
    EXPECT_EQ(run("repeat 4294967297", 1).sent, "E: version|") << "read as 1 in 32 bits";
    for (int i = 0; i < 70; ++i)
        cle_history_add("filler");
    EXPECT_EQ(run("! 64", 1).sent, "E: filler|") << "a full ring: the newest slot is valid";
}

TEST_F(Commands, LogLayoutChoices) {
    const std::pair<const char *, std::string> cases[] = {
        {"log format date time level", kLine},
        {"log format time level", kLine.substr(11)},
        {"log format time date", "2026-12-05 19:27:22 zuz: call started"},
        {"log format date", "2026-12-05 zuz: call started"},
        {"log format Date", "zuz: call started"},  // words are case-sensitive
        {"log format level", "notice zuz: call started"},
        {"log format", "zuz: call started"},
    };
    for (const auto &[line, layout] : cases) {
        run(line);
        EXPECT_EQ(shown(kLine), layout) << line;
    }
    // Lines too short to hold the fields are shown whole, whatever the filters.
    run("show add nomatch");
    EXPECT_EQ(shown("short line of 24 chars.."), "short line of 24 chars..");
    EXPECT_EQ(shown("line of twenty-five chars"), "<dropped>");
}

// Show and cull filters look only past the time field; a cull filter wins.
TEST_F(Commands, LogFilters) {
    const std::string other = "2026-12-05 19:27:22 notice kernel: ";
    run("show add zuz vela");
    EXPECT_EQ(shown(kLine), kLine);
    EXPECT_EQ(shown(other + "zuz"), other + "zuz");
    EXPECT_EQ(shown(other + "link up"), "<dropped>");
    run("cull add started");
    EXPECT_EQ(shown(kLine), "<dropped>");
    printed({"log show del zuz vela", "log cull del *", "show add 19:27"});
    EXPECT_EQ(shown(kLine), "<dropped>");
    EXPECT_EQ(shown(other + "at 19:27"), other + "at 19:27");
    printed({"show del *", "cull add 12-05"});
    EXPECT_EQ(shown(kLine), kLine);
}

// The tables hold ten filters; "del" takes out one slot per argument; a long filter is
// refused, not cut, while the other words of its line are added.
TEST_F(Commands, LogFilterTablesAndRefusals) {
    const std::string listed = printed({"show add f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 f10 f11", "show"});
    EXPECT_NE(listed.find("\"f9\""), std::string::npos);
    EXPECT_EQ(listed.find("\"f10\""), std::string::npos);
    EXPECT_EQ(printed({"cull add twice twice", "cull del twice", "cull"}),
              "Active cull filters:\r\n--------------------\r\n\"twice\"\r\n");
    EXPECT_EQ(printed({"show del *", "show list"}),
              "usage: [log] show add <filterstring> [<filterstring>...]\r\n"
              "       [log] show del <filterstring> [<filterstring>...]\r\n"
              "       [log] show del *\r\n"
              "       [log] show\r\n");
    EXPECT_EQ(run("log cull list").printed.substr(0, 25), "usage: [log] cull add <fi");
    EXPECT_EQ(
        run("show add " + std::string(256, 'L') + " ok " + std::string(255, 'M')).printed,
        "error: filter longer than 255 characters not added: " + std::string(40, 'L') + "...\r\n");
    EXPECT_EQ(run("show").printed, "Active show filters:\r\n--------------------\r\n\"ok\"\r\n\"" +
                                       std::string(255, 'M') + "\"\r\n");
}

// Lines lost to a failed write are not made good by a last flush that succeeds: the
// paste is reported and not handed over.
TEST_F(Commands, AnImportThatLostAWriteIsNotHandedOver) {
    char directory[] = "/tmp/vela-import-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    DirectoryImport import(directory);
    ASSERT_TRUE(session.output.create_buffer());  // the notices' way to the terminal
    ASSERT_TRUE(import.start(session, "importdirectory"));
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit no_room{0, limit.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &no_room), 0);
    std::string line(500, 'x');
    for (int i = 0; i < 200; ++i)  // more than the stream's buffer: a write fails
        import.take_line(session, CommandMode::kNormal, line.data());
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    signal(SIGXFSZ, SIG_DFL);
    app.send("R: 0\n");  // a reply, should the file be handed over after all
    char complete[512] = "importcomplete";
    import.take_line(session, CommandMode::kNormal, complete);
    CaptureStdout();
    session.output.flush_unless_typing();
    EXPECT_EQ(GetCapturedStdout(), "import started\nERROR: could not write file.\n");
    EXPECT_EQ(app.pending(), "");
    std::filesystem::remove_all(directory);
}

TEST(LoopHelpers, LinesAreTrimmedAndBangGetsItsBlank) {
    const std::tuple<void (*)(char *), const char *, const char *> cases[] = {
        {clean_line, "  version\t\r", "version"},
        {clean_line, "\x01\x1f a b \x20", "a b"},
        {clean_line, "   ", ""},
        {clean_line, "a\x7f", "a\x7f"},
        {clean_line, "\xff x", "\xff x"},
        {preprocess_legacy_bang_input_cmd, "!3", "! 3"},
        {preprocess_legacy_bang_input_cmd, "!", "!"},
        {preprocess_legacy_bang_input_cmd, "! 3", "!  3"},
        {preprocess_legacy_bang_input_cmd, "a!3", "a!3"},
        {preprocess_legacy_bang_input_cmd, "!ab", "! ab"},
    };
    for (const auto &[change, in, out] : cases) {
        char line[32];
        snprintf(line, sizeof line, "%s", in);
        change(line);
        EXPECT_STREQ(line, out) << in;
    }
}

}  // namespace
