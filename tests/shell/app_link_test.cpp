// The exchange with the application: replies, the console printer and secret words.

#include "app_link.h"

#include <gtest/gtest.h>
#include <semaphore.h>

#include <string>

#include "console.h"
#include "session.h"
#include "stdout_capture.h"

namespace {

std::string encoded(const char *text) {
    char out[1100];
    return encode(out, text);
}

TEST(Encode, TwoHexDigitsPerCharacterFromItsLowSevenBits) {
    EXPECT_EQ(encoded("abc"), "616263");
    EXPECT_EQ(encoded(""), "");
    EXPECT_EQ(encoded("\xe9"), "69");
    EXPECT_EQ(encoded("A\x7f "), "417f20");
}

std::string preprocessed(const std::string &line, int *result = nullptr) {
    char buffer[512];
    snprintf(buffer, sizeof buffer, "%s", line.c_str());
    StdoutCapture quiet;
    int rc = preProcessPasswordCommands(buffer);
    if (result) *result = rc;
    return buffer;
}

TEST(PasswordCommands, SecretWordsAreEncodedOnlyInTheExactShapes) {
    EXPECT_EQ(preprocessed("setpassword admin  old   ab cd"), "setpassword admin old 6162 6364");
    EXPECT_EQ(preprocessed("setpassword a \"b c\" \"d e\" f"), "setpassword a b c 642065 66")
        << "the rebuilt line loses quotes and spacing";
    EXPECT_EQ(preprocessed("setpassword a b c"), "setpassword a b c");
    EXPECT_EQ(preprocessed("setpassword a b c d e"), "setpassword a b c d e");
    EXPECT_EQ(preprocessed("webmonitoring on secret"), "webmonitoring 6f6e secret");
    EXPECT_EQ(preprocessed("webmonitoring on"), "webmonitoring on");
    EXPECT_EQ(preprocessed("SETPASSWORD a b c d"), "SETPASSWORD a b c d");
}

TEST(PasswordCommands, ALineTooLongOnceEncodedIsRefusedNotCut) {
    std::string secret(250, 's');  // 500 hex digits: the line would need 519
    std::string line = "setpassword a b " + secret + " x";
    int rc = 0;
    std::string after = preprocessed(line, &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(after, line) << "the secret must not be sent half encoded";
}

// Replies arrive through message_handler on the reader thread; here the test plays it.
class Replies : public ::testing::Test {
  protected:
    void SetUp() override {
        sem_init(&response_sem, 0, 0);
        sem_init(&input_ready_sem, 0, 0);
        did_registration = 1;
    }
    void TearDown() override {
        sem_destroy(&response_sem);
        sem_destroy(&input_ready_sem);
        did_registration = 0;
    }
    int reply(const char *line, std::string *printed = nullptr) {
        char copy[600];
        snprintf(copy, sizeof copy, "%s", line);
        message_handler(nullptr, copy);
        StdoutCapture capture;
        int code = response_helper();
        if (printed) *printed = capture.text();
        return code;
    }
    int tokens() {
        int value = 0;
        sem_getvalue(&input_ready_sem, &value);
        return value;
    }
};

TEST_F(Replies, CodesAreReadAfterTheThreeCharacterPrefix) {
    EXPECT_EQ(reply("R: 0"), 0);
    EXPECT_EQ(reply("R: 5"), 5);
    EXPECT_EQ(reply("Rxx12"), 12) << "only the first character is examined";
    EXPECT_EQ(reply("R: not a number"), 0);
    EXPECT_EQ(reply("R: 99999999999"), 2147483647) << "overflow saturates";
    EXPECT_EQ(tokens(), 5) << "one ready token per reply";
}

TEST_F(Replies, NegativeCodesAreReportedOnlyAfterRegistration) {
    std::string printed;
    EXPECT_EQ(reply("R: -3", &printed), -1);
    EXPECT_EQ(printed, "error: command not found" + std::string(newline_string));
    did_registration = 0;
    EXPECT_EQ(reply("R: -3", &printed), -3);
    EXPECT_EQ(printed, "");
}

TEST_F(Replies, AnEmptyReplyReadsAsAClosedSession) {
    std::string printed;
    EXPECT_EQ(reply("R: ", &printed), kLinkEnded);
    EXPECT_NE(printed.find("error: session is closed by peer"), std::string::npos);
    EXPECT_EQ(reply("R", &printed), kLinkEnded);
    EXPECT_FALSE(link_has_ended()) << "the link itself is still up";
}

TEST_F(Replies, AReplyJustBeforeTheLinkEndsStillAnswersItsMessage) {
    char reply[] = "R: 4";
    message_handler(nullptr, reply);
    message_handler(nullptr, nullptr);
    StdoutCapture capture;
    EXPECT_EQ(response_helper(), 4);
    EXPECT_EQ(response_helper(), kLinkEnded);
    EXPECT_TRUE(link_has_ended());
}

TEST_F(Replies, OtherLinesWakeNobody) {
    char line[] = "X: 1";
    message_handler(nullptr, line);
    EXPECT_EQ(sem_trywait(&response_sem), -1);
}

TEST(ShellPrintln, OneLineWithTheSessionLineEnd) {
    const char *saved = newline_string;
    newline_string = "\r\n";
    StdoutCapture capture;
    EXPECT_EQ(shell_println("value %d\n", 7), 9);
    shell_println("value %d", 7);
    shell_println("%s", "%n%s");
    EXPECT_EQ(capture.text(), "value 7\r\nvalue 7\r\n%n%s\r\n");
    newline_string = saved;
}

TEST(ShellPrintln, FormatsThatDoNotFitTheLineBufferAreRefused) {
    const char *saved = newline_string;
    newline_string = "\r\n";
    StdoutCapture capture;
    EXPECT_EQ(shell_println(nullptr), -1);
    std::string fits(130, 'x'), too_long(131, 'x');  // 133 bytes with CR LF and NUL
    EXPECT_EQ(shell_println("%s", too_long.c_str()), 133) << "arguments may be long";
    EXPECT_EQ(shell_println(too_long.c_str()), -1);
    EXPECT_EQ(shell_println(fits.c_str()), 132);
    EXPECT_EQ(capture.text(), too_long + "\r\n" + fits + "\r\n");
    newline_string = saved;
}

}  // namespace
