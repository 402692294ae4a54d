// The exchange with the application: replies, the console printer and secret words.
#include "app_link.h"

#include <gtest/gtest.h>
#include <semaphore.h>

#include <string>

#include "console.h"
#include "session.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

TEST(Encode, TwoHexDigitsPerCharacterFromItsLowSevenBits) {
    char out[16];
    EXPECT_STREQ(encode(out, "A\x7f \xe9"), "417f2069");
    EXPECT_STREQ(encode(out, ""), "");
}

// The line after preProcessPasswordCommands, and its result in *result.
std::string preprocessed(const std::string &line, int *result = nullptr) {
    char buffer[512];
    snprintf(buffer, sizeof buffer, "%s", line.c_str());
    CaptureStdout();
    const int rc = preProcessPasswordCommands(buffer);
    GetCapturedStdout();
    if (result != nullptr) *result = rc;
    return buffer;
}

TEST(PasswordCommands, SecretWordsAreEncodedOnlyInTheExactShapes) {
    const std::pair<const char *, const char *> cases[] = {
        {"setpassword admin  old   ab cd", "setpassword admin old 6162 6364"},
        {"setpassword a \"b c\" \"d e\" f", "setpassword a b c 642065 66"},  // quotes go
        {"setpassword a b c", "setpassword a b c"},
        {"setpassword a b c d e", "setpassword a b c d e"},
        {"webmonitoring on secret", "webmonitoring 6f6e secret"},
        {"webmonitoring on", "webmonitoring on"},
        {"SETPASSWORD a b c d", "SETPASSWORD a b c d"},
    };
    for (const auto &[line, sent] : cases)
        EXPECT_EQ(preprocessed(line), sent);
    // 500 hex digits: the line would need 519 bytes; the secret is never sent half encoded.
    const std::string line = "setpassword a b " + std::string(250, 's') + " x";
    int rc = 0;
    EXPECT_EQ(preprocessed(line, &rc), line);
    EXPECT_EQ(rc, -1);
}

TEST(PasswordCommands, ForwardedWordsKeepSecretsInHexAndOutOfTheHistory) {
    // "api", "sys" and "kbox" send their words joined: a quoted secret stays one word.
    const char *words[] = {"setpassword", "a", "b", "c d", "e"};
    char out[512];
    ASSERT_EQ(join_encoding_secrets(out, 5, const_cast<char **>(words)), 0);
    EXPECT_STREQ(out, "setpassword a b 632064 65");
    for (const char *line : {"setpassword a", "api setpassword a b c d", "  kbox webmonitoring x",
                             "sys \"webmonitoring\" x y"})
        EXPECT_TRUE(carries_secrets(line)) << line;
    for (const char *line : {"api", "echo setpassword", "# setpassword x", "history"})
        EXPECT_FALSE(carries_secrets(line)) << line;
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
        CaptureStdout();
        const int code = response_helper();
        const std::string text = GetCapturedStdout();
        if (printed != nullptr) *printed = text;
        return code;
    }
};

TEST_F(Replies, CodesAreReadAfterTheThreeCharacterPrefix) {
    const std::pair<const char *, int> cases[] = {
        {"R: 0", 0},
        {"R: 5", 5},
        {"Rxx12", 12},  // only the first character is examined
        {"R: not a number", 0},
        {"R: 99999999999", 2147483647},
    };
    for (const auto &[line, code] : cases) {
        std::string printed;
        EXPECT_EQ(reply(line, &printed), code) << line;
        EXPECT_EQ(printed, "") << line;
    }
    int tokens = 0;
    sem_getvalue(&input_ready_sem, &tokens);
    EXPECT_EQ(tokens, 5) << "one ready token per reply";
    char other[] = "X: 1";
    message_handler(nullptr, other);
    EXPECT_EQ(sem_trywait(&response_sem), -1) << "other lines wake nobody";
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
    for (const char *line : {"R: ", "R:", "R"}) {
        std::string printed;
        EXPECT_EQ(reply(line, &printed), kLinkEnded) << line;
        EXPECT_NE(printed.find("error: session is closed by peer"), std::string::npos);
    }
    EXPECT_FALSE(link_has_ended()) << "the link itself is still up";
}

// The reply slot once held one reply, which the end of the link overwrote.
TEST_F(Replies, AReplyJustBeforeTheLinkEndsStillAnswersItsMessage) {
    char reply[] = "R: 4";
    message_handler(nullptr, reply);
    message_handler(nullptr, nullptr);
    CaptureStdout();
    EXPECT_EQ(response_helper(), 4);
    EXPECT_EQ(response_helper(), kLinkEnded);
    GetCapturedStdout();
    EXPECT_TRUE(link_has_ended());
}

TEST(ShellPrintln, OneLineWithTheSessionLineEndAndNoRoomForLongFormats) {
    const char *saved = newline_string;
    newline_string = "\r\n";
    const std::string fits(130, 'x'), too_long(131, 'x');  // 133 bytes with CR LF and NUL
    CaptureStdout();
    EXPECT_EQ(shell_println("value %d\n", 7), 9);
    shell_println("%s", "%n%s");
    EXPECT_EQ(shell_println(nullptr), -1);
    EXPECT_EQ(shell_println("%s", too_long.c_str()), 133) << "arguments may be long";
    EXPECT_EQ(shell_println(too_long.c_str()), -1);
    EXPECT_EQ(shell_println(fits.c_str()), 132);
    EXPECT_EQ(GetCapturedStdout(), "value 7\r\n%n%s\r\n" + too_long + "\r\n" + fits + "\r\n");
    newline_string = saved;
}

}  // namespace
