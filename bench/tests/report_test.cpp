// The benchmark report's own logic: results lines survive their round trip, verdicts go
// the right way for each kind of target, the table keeps each build's rows apart with the
// CPU columns beside the figures, and the JSON stays valid whatever the text.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "Datagrams.h"
#include "Figure.h"
#include "RawLink.h"
#include "RawSystemLog.h"
#include "Report.h"

namespace vela::bench {
namespace {

Figure figure(double shell, double baseline, const char *target) {
    return {"1a", "what", "unit", shell, baseline, target, ""};
}

// The line of a figure with the given fields after build and id.
std::string line(const char *rest) {
    return std::string("host\t1a\t") + rest;
}

TEST(BenchFigure, SurvivesItsLineWithMissingValuesAndStrayTabs) {
    Figure in{"6g",          "a\twhat\nwith breaks",
              "allocs/line", 0.125,
              kNone,         "value==0",
              "n\tote",      {"us/line", 2.5, kNone, "prog+zuz"},
              "ppc"};
    Figure out;
    ASSERT_TRUE(parseFigure(formatFigure(in), out));
    EXPECT_EQ(out.build, "ppc");
    EXPECT_EQ(out.id, "6g");
    EXPECT_EQ(out.what, "a what with breaks");
    EXPECT_DOUBLE_EQ(out.shell, 0.125);
    EXPECT_TRUE(std::isnan(out.baseline));
    EXPECT_EQ(out.target, "value==0");
    EXPECT_EQ(out.cpu.unit, "us/line");
    EXPECT_DOUBLE_EQ(out.cpu.shell, 2.5);
    EXPECT_TRUE(std::isnan(out.cpu.baseline));
    EXPECT_EQ(out.cpu.counted, "prog+zuz");
    EXPECT_EQ(out.note, "n ote");

    EXPECT_TRUE(parseFigure(line("w\tu\t1\t-\treport\tus/x\t2\t3\tprog\tnote"), out));
    const char *const broken[] = {
        "1a\tonly three\tfields",
        "1a\tw\tu\t1\t-\treport\tnote",                             // the old layout, without CPU
        "host\t1a\tw\tu\tfast\t-\treport\tus/x\t2\t3\tprog\tnote",  // a value not a number
        "host\t1a\tw\tu\t1\t-\treport\tus/x\t2\tslow\tprog\tnote",  // a CPU value neither
        "host\t\tw\tu\t1\t-\treport\tus/x\t2\t3\tprog\tnote",       // no id
        "\t1a\tw\tu\t1\t-\treport\tus/x\t2\t3\tprog\tnote",         // no build
    };
    for (const char *text : broken)
        EXPECT_FALSE(parseFigure(text, out)) << text;
}

TEST(BenchReport, JudgesEachKindOfTargetInItsOwnDirection) {
    EXPECT_EQ(verdictOf(figure(1.2, 1.0, "ratio<=1.3")), Verdict::Met);
    EXPECT_EQ(verdictOf(figure(1.4, 1.0, "ratio<=1.3")), Verdict::Missed);
    EXPECT_EQ(verdictOf(figure(80, 100, "ratio>=0.8")), Verdict::Met);
    EXPECT_EQ(verdictOf(figure(79, 100, "ratio>=0.8")), Verdict::Missed);
    EXPECT_EQ(verdictOf(figure(1024, kNone, "value<=1024")), Verdict::Met);
    EXPECT_EQ(verdictOf(figure(1025, kNone, "value<=1024")), Verdict::Missed);
    // Allocation counts: one stray allocation in thousands of lines is not per line.
    EXPECT_EQ(verdictOf(figure(0.001, kNone, "value==0")), Verdict::Met);
    EXPECT_EQ(verdictOf(figure(1, kNone, "value==0")), Verdict::Missed);
    EXPECT_EQ(verdictOf(figure(5, kNone, "report")), Verdict::Reported);
    // Not measured by design (no cross compiler) is neither a failure nor a result.
    EXPECT_EQ(verdictOf(figure(kNone, kNone, "skipped")), Verdict::Skipped);
}

TEST(BenchReport, PassesTheRunUnlessAFigureMissedOrFailed) {
    const Figure met = figure(1, 1, "ratio<=1.3"), reported = figure(5, kNone, "report"),
                 skipped = figure(kNone, kNone, "skipped");
    EXPECT_TRUE(allTargetsMet({}));
    EXPECT_TRUE(allTargetsMet({met, reported, skipped}));
    EXPECT_FALSE(allTargetsMet({met, figure(2, 1, "ratio<=1.3"), skipped}));
    EXPECT_FALSE(allTargetsMet({met, figure(kNone, kNone, "report")}));
}

TEST(BenchReport, AMissingFigureFailsRatherThanPasses) {
    EXPECT_EQ(verdictOf(figure(kNone, 1, "ratio<=1.3")), Verdict::Failed);
    EXPECT_EQ(verdictOf(figure(1, kNone, "ratio<=1.3")), Verdict::Failed);
    EXPECT_EQ(verdictOf(figure(1, 0, "ratio>=0.8")), Verdict::Failed);
    EXPECT_EQ(verdictOf(figure(kNone, kNone, "report")), Verdict::Failed);
}

TEST(BenchReport, TakesTheCpuRatioOnlyWhenBothSidesWereMeasured) {
    Figure f = figure(1, 1, "report");
    f.cpu = {"us/line", 3, 2, "prog"};
    EXPECT_DOUBLE_EQ(cpuRatioOf(f), 1.5);
    f.cpu.baseline = 0;  // an idle raw program
    EXPECT_TRUE(std::isnan(cpuRatioOf(f)));
    f.cpu.baseline = kNone;
    EXPECT_TRUE(std::isnan(cpuRatioOf(f)));
}

TEST(BenchReport, OrdersRowsByBuildHostFirstThenByNumberThenLetter) {
    EXPECT_TRUE(idLess("1a", "1b"));
    EXPECT_TRUE(idLess("2e", "10a"));
    EXPECT_TRUE(idLess("6", "6a"));
    EXPECT_FALSE(idLess("8b", "8a"));

    auto at = [](const char *build, const char *id) {
        Figure f = figure(1, 1, "report");
        f.build = build;
        f.id = id;
        return f;
    };
    std::vector<Figure> figures = {at("ppc", "9a"), at("host", "2a"), at("arm", "1a"),
                                   at("ppc", "1a"), at("host", "10a")};
    std::stable_sort(figures.begin(), figures.end(), figureLess);
    std::string order;
    for (const Figure &f : figures)
        order += f.build + ":" + f.id + " ";
    EXPECT_EQ(order, "host:2a host:10a arm:1a ppc:1a ppc:9a ");
}

// The table's line that starts with text, or "" when there is none.
std::string lineStarting(const std::string &table, const std::string &text) {
    std::istringstream in(table);
    for (std::string row; std::getline(in, row);)
        if (row.rfind(text, 0) == 0) return row;
    return "";
}

TEST(BenchReport, PrintsTheCpuColumnsBesideEachBuildsRows) {
    Figure timed = figure(100, 50, "ratio<=1.3");
    timed.unit = "us/command";
    timed.cpu = {"ms/MB", 30, 12, "prog+zuz"};
    Figure size = figure(123456, kNone, "report");
    size.id = "9a";
    size.what = "size of vela";
    size.build = "ppc";
    std::ostringstream out;
    printTable(out, {timed, size});
    const std::string table = out.str();

    const size_t host = table.find("[host build]"), ppc = table.find("[ppc build]");
    ASSERT_NE(host, std::string::npos);
    ASSERT_NE(ppc, std::string::npos);
    EXPECT_LT(host, table.find("\n1a "));
    EXPECT_LT(table.find("\n1a "), ppc);
    EXPECT_LT(ppc, table.find("\n9a "));

    std::istringstream timedCells(lineStarting(table, "1a "));
    std::vector<std::string> cells;
    for (std::string cell; timedCells >> cell;)
        cells.push_back(cell);
    const std::vector<std::string> expected = {
        "1a", "us/command", "100",  "50.0", "2.00x", "<=",       "1.30x", "MISSED",
        "|",  "ms/MB",      "30.0", "12.0", "2.50x", "prog+zuz", "|",     "what"};
    EXPECT_EQ(cells, expected);
    // A row that times no work shows no CPU figures.
    EXPECT_NE(lineStarting(table, "9a ").find("|  -  "), std::string::npos)
        << lineStarting(table, "9a ");
    EXPECT_NE(table.find("prog = vela or the raw program"), std::string::npos);
}

TEST(BenchReport, WritesJsonThatEscapesTextAndNullsMissingNumbers) {
    EXPECT_EQ(jsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    Figure f = figure(2, kNone, "report");
    f.cpu = {"us/line", 4, kNone, "prog+syslogd"};
    std::ostringstream out;
    writeJson(out, {f}, "2 CPUs");
    const std::string json = out.str();
    for (const char *field :
         {"\"build\": \"host\"", "\"raw\": null", "\"ratio\": null", "\"cpu_unit\": \"us/line\"",
          "\"vela_cpu\": 4", "\"raw_cpu\": null", "\"cpu_ratio\": null",
          "\"cpu_counted\": \"prog+syslogd\"", "\"machine\": \"2 CPUs\""})
        EXPECT_NE(json.find(field), std::string::npos) << field;
}

TEST(BenchSystemLog, RecordsBeginAsSyslogBeginsThemForTheShell) {
    // The log daemon strips the priority, a 16-character time stamp and the identity.
    const char *saved = getenv("TZ");
    const std::string old = saved ? saved : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    char header[64];
    const size_t len = raw::SessionLog::formatHeader(5 * 86400 + 3723, header, sizeof header);
    EXPECT_STREQ(header, "<69>Jan  6 01:02:03 vela: ");
    EXPECT_EQ(len, std::string(header).size());
    EXPECT_EQ(raw::SessionLog::formatHeader(0, header, 8), 7u);  // cut to the room
    if (saved)
        setenv("TZ", old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(BenchLines, HaveTheirExactLengthAndTheMarkerOnlyOnTheLast) {
    LineBatch batch = makeLines(3, 50, "event", "the-end");
    ASSERT_EQ(batch.size(), 3u);
    EXPECT_EQ(batch.bytes(), 150u);
    for (size_t i = 0; i < batch.size(); ++i) {
        EXPECT_EQ(batch.at(i).size(), 50u);
        EXPECT_EQ(batch.at(i).back(), '\n');
        EXPECT_EQ(batch.at(i).find('\n'), 49u);
        EXPECT_EQ(batch.at(i).find("the-end") != std::string_view::npos, i == 2);
    }
}

TEST(BenchRawLink, ReadsRepliesSplitAcrossReadsAndSkipsOtherLines) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    raw::LineReader reader(fds[0]);
    ASSERT_TRUE(raw::writeText(fds[1], "noise\nR: -"));
    EXPECT_FALSE(reader.holdsLine());
    ASSERT_TRUE(raw::writeText(fds[1], "3\nR: 0\n"));
    EXPECT_STREQ(reader.next(), "noise");
    EXPECT_STREQ(reader.next(), "R: -3");
    EXPECT_TRUE(reader.holdsLine());
    // A message sent and its reply taken, past any other line.
    ASSERT_TRUE(raw::writeText(fds[1], "x\nR: 7\n"));
    EXPECT_EQ(raw::exchange(fds[0], reader, "E: probe\n"), 0);  // the reply already held
    EXPECT_EQ(raw::exchange(fds[0], reader, "E: probe\n"), 7);
    close(fds[1]);
    EXPECT_EQ(raw::exchange(fds[0], reader, "E: probe\n"), raw::kNoReply);
    close(fds[0]);
}

}  // namespace
}  // namespace vela::bench
