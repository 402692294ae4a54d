// The secret words of password commands: encoded, never cut, kept out of the history.
#include "secret_words.h"

#include <gtest/gtest.h>

#include <string>

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
    const int rc = preProcessPasswordCommands(buffer);
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

}  // namespace
