// The benchmark report's own logic: results lines survive their round trip, verdicts go
// the right way for each kind of target, the table keeps each build's rows apart with the
// CPU columns beside the figures, and the JSON stays valid whatever the text. Beside it,
// the raw baseline's log records, which must begin as the shell's do.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "Figure.h"
#include "RawSystemLog.h"
#include "Report.h"

namespace vela::bench {
namespace {

using enum Verdict;

Figure figure(double shell, double baseline, const char *target, std::string build = "host",
              std::string id = "1a") {
    return {id, "what", "unit", shell, baseline, target, "", {}, build};
}

TEST(BenchFigure, SurvivesItsLineWithMissingValuesAndStrayTabs) {
    const std::string line = "ppc\t6g\tw\tu\t0.125\t-\tvalue==0\tus/x\t2\t3\tprog\tnote";
    Figure out;
    ASSERT_TRUE(parseFigure(line, out));
    EXPECT_EQ(formatFigure(out), line);
    EXPECT_TRUE(out.shell == 0.125 && std::isnan(out.baseline) && out.cpu.shell == 2);
    out.what = "a\twhat\nwith breaks";
    ASSERT_TRUE(parseFigure(formatFigure(out), out));
    EXPECT_EQ(out.what, "a what with breaks");
    // Too few fields, a value not a number, no build.
    for (const char *broken :
         {"1a\tonly three\tfields", "host\t1a\tw\tu\tfast\t-\treport\tus/x\t2\t3\tprog\tnote",
          "\t1a\tw\tu\t1\t-\treport\tus/x\t2\t3\tprog\tnote"})
        EXPECT_FALSE(parseFigure(broken, out)) << broken;
}

TEST(BenchReport, JudgesEachFigureInItsTargetsDirectionAndTheRunByAllOfThem) {
    // One stray allocation in thousands of lines (value==0) is not one per line; a
    // missing figure or a zero baseline fails rather than passes.
    const std::pair<Figure, Verdict> cases[] = {
        {figure(1.2, 1, "ratio<=1.3"), Met},       {figure(1.4, 1, "ratio<=1.3"), Missed},
        {figure(80, 100, "ratio>=0.8"), Met},      {figure(79, 100, "ratio>=0.8"), Missed},
        {figure(1024, kNone, "value<=1024"), Met}, {figure(1025, kNone, "value<=1024"), Missed},
        {figure(0.001, kNone, "value==0"), Met},   {figure(1, kNone, "value==0"), Missed},
        {figure(5, kNone, "report"), Reported},    {figure(kNone, kNone, "skipped"), Skipped},
        {figure(kNone, 1, "ratio<=1.3"), Failed},  {figure(1, kNone, "ratio<=1.3"), Failed},
        {figure(1, 0, "ratio>=0.8"), Failed},      {figure(kNone, kNone, "report"), Failed}};
    for (const auto &[f, verdict] : cases)
        EXPECT_EQ(verdictOf(f), verdict) << f.shell << " " << f.baseline << " " << f.target;
    // Several conditions must all hold; "cpu" bounds the ratio of the CPU per unit.
    Figure both = figure(80, 100, "ratio>=0.8,cpu<=2");
    both.cpu.shell = 2.1;
    both.cpu.baseline = 1;
    EXPECT_EQ(targetText(both.target), ">= 0.800x, CPU <= 2.00x");
    EXPECT_EQ(verdictOf(both), Missed);
    both.cpu.shell = 2;
    EXPECT_EQ(verdictOf(both), Met);
    // Met, reported and skipped figures pass the run; a miss or a failure fails it.
    EXPECT_TRUE(allTargetsMet({}) &&
                allTargetsMet({cases[0].first, cases[8].first, cases[9].first}));
    EXPECT_FALSE(allTargetsMet({cases[0].first, cases[1].first}) ||
                 allTargetsMet({cases[0].first, cases[13].first}));
}

TEST(BenchReport, OrdersRowsByBuildHostFirstThenByNumberThenLetter) {
    std::vector<Figure> figures;
    for (const char *row :
         {"ppc 9a", "host 2b", "arm 1a", "ppc 1a", "host 10a", "host 6a", "host 6", "host 2a"})
        figures.push_back(
            figure(1, 1, "report", std::string(row, strchr(row, ' ')), strchr(row, ' ') + 1));
    std::stable_sort(figures.begin(), figures.end(), figureLess);
    std::string order;
    for (const Figure &f : figures)
        order += f.build + " " + f.id + ", ";
    EXPECT_EQ(order, "host 2a, host 2b, host 6, host 6a, host 10a, arm 1a, ppc 1a, ppc 9a, ");
}

TEST(BenchReport, PrintsTheCpuColumnsBesideEachBuildsRows) {
    Figure timed = figure(100, 50, "ratio<=1.3");
    timed.cpu = {"ms/MB", 30, 12, "prog+zuz"};
    std::ostringstream out;
    printTable(out, {timed, figure(123456, kNone, "report", "ppc", "9a")});
    std::istringstream table(out.str());
    std::string words;  // whatever the blanks between them
    for (std::string word; table >> word;)
        words += word + " ";
    // A row that times no work shows no CPU figures.
    EXPECT_NE(
        words.find("[host build] 1a unit 100 50.0 2.00x <= 1.30x MISSED | ms/MB 30.0 12.0 2.50x "
                   "prog+zuz | what [ppc build] 9a unit 123456 - - report - | - - - - - | what "),
        std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("prog = vela or the raw program"), std::string::npos);
}

TEST(BenchReport, WritesJsonThatEscapesTextAndNullsMissingNumbers) {
    EXPECT_EQ(jsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    Figure f = figure(2, kNone, "report");
    f.cpu = {"us/line", 4, kNone, "prog+syslogd"};
    std::ostringstream out;
    writeJson(out, {f}, "2 CPUs");
    for (const char *field :
         {"\"build\": \"host\"", "\"raw\": null", "\"ratio\": null", "\"cpu_unit\": \"us/line\"",
          "\"vela_cpu\": 4", "\"raw_cpu\": null", "\"cpu_ratio\": null",
          "\"cpu_counted\": \"prog+syslogd\"", "\"machine\": \"2 CPUs\""})
        EXPECT_NE(out.str().find(field), std::string::npos) << field;
}

TEST(BenchSystemLog, RecordsBeginAsSyslogBeginsThemForTheShell) {
    // The log daemon strips the priority, a 16-character time stamp and the identity.
    setenv("TZ", "UTC0", 1);  // each test runs in a process of its own
    tzset();
    char header[64];
    EXPECT_EQ(raw::SessionLog::formatHeader(5 * 86400 + 3723, header, sizeof header), 26u);
    EXPECT_STREQ(header, "<69>Jan  6 01:02:03 vela: ");
    EXPECT_EQ(raw::SessionLog::formatHeader(0, header, 8), 7u);  // cut to the room
}

}  // namespace
}  // namespace vela::bench
