// The secret words of password commands: joined for the forwarding commands and kept out
// of the history. Their encoding in every shape is checked by the password_commands fuzz
// target's model over its corpus.
#include "secret_words.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
