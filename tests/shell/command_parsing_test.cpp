// Command-line tokenizer: how typed lines become argument vectors.

#include "command_parsing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Tokens {
    int result;
    int argc;
    std::vector<std::string> argv;
};

Tokens tokenize(const std::string &text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char *argv[MAX_ARGS];
    int argc = -7;  // marks "left untouched"
    Tokens t{tokenizeString(line.data(), &argc, argv), argc, {}};
    if (t.result == 0 && argc > 0)
        for (int i = 0; i < argc; ++i)
            t.argv.emplace_back(argv[i]);
    return t;
}

using Args = std::vector<std::string>;

TEST(Tokenizer, BlanksSeparateArguments) {
    EXPECT_EQ(tokenize("log  show\tadd").argv, (Args{"log", "show", "add"}));
    EXPECT_EQ(tokenize("a\tb").argv, (Args{"a", "b"}));
    EXPECT_EQ(tokenize("a\tb c").argv, (Args{"a\tb", "c"}))
        << "a tab separates only when no space follows";
    EXPECT_EQ(tokenize("  lead and trail  ").argv, (Args{"lead", "and", "trail"}));
    EXPECT_EQ(tokenize("cut here\r\nnot this").argv, (Args{"cut", "here"}));
}

TEST(Tokenizer, EmptyAndBlankLinesGiveOneEmptyArgument) {
    for (const char *line : {"", "   ", "\t \t"}) {
        Tokens t = tokenize(line);
        EXPECT_EQ(t.result, 0);
        EXPECT_EQ(t.argc, 1);
        EXPECT_EQ(t.argv, (Args{""}));
    }
}

TEST(Tokenizer, CommentsLeaveArgcUntouched) {
    for (const char *line : {"# note", "   #note", "#"}) {
        Tokens t = tokenize(line);
        EXPECT_EQ(t.result, 0);
        EXPECT_EQ(t.argc, -7) << line;
    }
    EXPECT_EQ(tokenize("show #tag").argv, (Args{"show", "#tag"}));
}

TEST(Tokenizer, QuotedArguments) {
    EXPECT_EQ(tokenize("echo \"two words\" x").argv, (Args{"echo", "two words", "x"}));
    EXPECT_EQ(tokenize("\"\"").argv, (Args{""}));
    EXPECT_EQ(tokenize("say \"open to the end").argv, (Args{"say", "open to the end"}));
    EXPECT_EQ(tokenize("\"a\"b").argv, (Args{"a", "b"})) << "closing quote ends the argument";
    EXPECT_EQ(tokenize("a\"b c").argv, (Args{"a\"b", "c"})) << "a quote inside a word is text";
    EXPECT_EQ(tokenize("back\\slash").argv, (Args{"back\\slash"}));
}

TEST(Tokenizer, EscapesInsideQuotes) {
    EXPECT_EQ(tokenize("\"\\101\"").argv, (Args{"A"}));
    EXPECT_EQ(tokenize("\"\\x41\"").argv, (Args{"A"}));
    EXPECT_EQ(tokenize("\"\\x4142\"").argv, (Args{"B"})) << "low 8 bits of the whole run";
    EXPECT_EQ(tokenize("\"\\8\"").argv, (Args{"8"}));
    EXPECT_EQ(tokenize("\"\\\"\\'\\?\\\\\"").argv, (Args{"\"'?\\"}));
    EXPECT_EQ(tokenize("\"\\a\\b\\f\\n\\r\\t\\v\"").argv, (Args{"\a\b\f\n\r\t\v"}));
    EXPECT_EQ(tokenize("\"\\u00e9\"").argv, (Args{"\\u00e9"}));
    EXPECT_EQ(tokenize("\"ab\\0cd\" next").argv, (Args{"ab", "next"}))
        << "a NUL escape ends the argument's text";
    EXPECT_EQ(tokenize("\"\\xg\"").argv, (Args{""})) << "\\x without digits is 0";
    EXPECT_EQ(tokenize("\"\\7777\"").argv, (Args{"\xff"}));
}

TEST(Tokenizer, TrailingBackslashInQuotesIsInvalid) {
    EXPECT_EQ(tokenize("echo \"abc\\").result, -1);
    EXPECT_EQ(tokenize("echo abc\\").argv, (Args{"echo", "abc\\"}));
}

TEST(Tokenizer, AtMostFortyArguments) {
    std::string line;
    for (int i = 0; i < 45; ++i)
        line += "w" + std::to_string(i) + " ";
    Tokens t = tokenize(line);
    EXPECT_EQ(t.argc, MAX_ARGS);
    EXPECT_EQ(t.argv.front(), "w0");
    EXPECT_EQ(t.argv.back(), "w39");
}

TEST(Tokenizer, RipCutsAtLfThenCr) {
    char a[] = "one\rtwo\nthree";
    rip(a);
    EXPECT_STREQ(a, "one");
    char b[] = "x\n\ry";
    rip(b);
    EXPECT_STREQ(b, "x");
}

TEST(Tokenizer, NormalizedStringJoinsWithSingleBlanks) {
    std::string text = "  a   b\t c ";
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char *argv[MAX_ARGS];
    int argc = 0;
    ASSERT_EQ(tokenizeString(line.data(), &argc, argv), 0);
    char out[64];
    make_normalized_string(out, argc, argv);
    EXPECT_STREQ(out, "a b\t c");
    make_normalized_string(out, 0, argv);
    EXPECT_STREQ(out, "");
}

TEST(Tokenizer, BoolParameter) {
    char cmd[] = "prompt", on[] = "ON", off[] = "oFf", other[] = "maybe";
    char *with_on[] = {cmd, on}, *with_off[] = {cmd, off}, *with_other[] = {cmd, other};
    EXPECT_EQ(get_bool_parm(2, with_on, 0), -1);
    EXPECT_EQ(get_bool_parm(2, with_off, 1), 0);
    EXPECT_EQ(get_bool_parm(2, with_other, 0), 1);
    EXPECT_EQ(get_bool_parm(1, with_on, -1), 0);
    EXPECT_EQ(get_bool_parm(1, with_on, 0), 1);
}

}  // namespace
