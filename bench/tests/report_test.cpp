// The benchmark report's own logic: results lines survive their round trip, verdicts go
// the right way for each kind of target, and the JSON stays valid whatever the text.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <sstream>

#include "Datagrams.h"
#include "Figure.h"
#include "RawLink.h"
#include "Report.h"

namespace vela::bench {
namespace {

Figure figure(double shell, double baseline, const char *target) {
    return {"1a", "what", "unit", shell, baseline, target, ""};
}

TEST(BenchFigure, SurvivesItsLineWithMissingValuesAndStrayTabs) {
    Figure in{"6g", "a\twhat\nwith breaks", "allocs/line", 0.125, kNone, "value==0", "n\tote"};
    Figure out;
    ASSERT_TRUE(parseFigure(formatFigure(in), out));
    EXPECT_EQ(out.id, "6g");
    EXPECT_EQ(out.what, "a what with breaks");
    EXPECT_DOUBLE_EQ(out.shell, 0.125);
    EXPECT_TRUE(std::isnan(out.baseline));
    EXPECT_EQ(out.note, "n ote");
    EXPECT_FALSE(parseFigure("1a\tonly three\tfields", out));
    EXPECT_FALSE(parseFigure("1a\tw\tu\tfast\t-\treport\t", out));
    EXPECT_FALSE(parseFigure("\tw\tu\t1\t-\treport\t", out));
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
}

TEST(BenchReport, AMissingFigureFailsRatherThanPasses) {
    EXPECT_EQ(verdictOf(figure(kNone, 1, "ratio<=1.3")), Verdict::Failed);
    EXPECT_EQ(verdictOf(figure(1, kNone, "ratio<=1.3")), Verdict::Failed);
    EXPECT_EQ(verdictOf(figure(1, 0, "ratio>=0.8")), Verdict::Failed);
    EXPECT_EQ(verdictOf(figure(kNone, kNone, "report")), Verdict::Failed);
}

TEST(BenchReport, OrdersRowsByNumberThenLetter) {
    EXPECT_TRUE(idLess("1a", "1b"));
    EXPECT_TRUE(idLess("2e", "10a"));
    EXPECT_TRUE(idLess("6", "6a"));
    EXPECT_FALSE(idLess("8b", "8a"));
}

TEST(BenchReport, WritesJsonThatEscapesTextAndNullsMissingNumbers) {
    EXPECT_EQ(jsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
    std::ostringstream out;
    writeJson(out, {figure(2, kNone, "report")}, "2 CPUs");
    const std::string json = out.str();
    EXPECT_NE(json.find("\"raw\": null"), std::string::npos);
    EXPECT_NE(json.find("\"ratio\": null"), std::string::npos);
    EXPECT_NE(json.find("\"machine\": \"2 CPUs\""), std::string::npos);
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
