// Command-line tokenizer: how typed lines become argument vectors.
#include "command_parsing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct Tokens {
    int result, argc;
    Args argv;
};

Tokens tokenize(const std::string &text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char *argv[MAX_ARGS];
    int argc = -7;  // marks "left untouched"
    Tokens t{tokenizeString(line.data(), &argc, argv), argc, {}};
    for (int i = 0; t.result == 0 && i < argc; ++i)
        t.argv.emplace_back(argv[i]);
    return t;
}

TEST(Tokenizer, LinesBecomeArguments) {
    const std::pair<const char *, Args> cases[] = {
        {"log  show\tadd", {"log", "show", "add"}},
        {"a\tb c", {"a\tb", "c"}},  // a tab separates only when no space follows
        {"  lead and trail  ", {"lead", "and", "trail"}},
        {"cut here\r\nnot this", {"cut", "here"}},
        {"", {""}},
        {"\t \t", {""}},
        {"show #tag", {"show", "#tag"}},
        {"echo \"two words\" x", {"echo", "two words", "x"}},
        {"\"\"", {""}},
        {"say \"open to the end", {"say", "open to the end"}},
        {"\"a\"b", {"a", "b"}},     // the closing quote ends the argument
        {"a\"b c", {"a\"b", "c"}},  // a quote inside a word is text
        {"back\\slash abc\\", {"back\\slash", "abc\\"}},
        {"\"\\101\" \"\\x41\" \"\\x4142\" \"\\8\"", {"A", "A", "B", "8"}},  // \x: low 8 bits
        {"\"\\\"\\'\\?\\\\\"", {"\"'?\\"}},
        {"\"\\a\\b\\f\\n\\r\\t\\v\"", {"\a\b\f\n\r\t\v"}},
        {"\"\\u00e9\" \"\\xg\" \"\\7777\"", {"\\u00e9", "", "\xff"}},
        {"\"ab\\0cd\" next", {"ab", "next"}},  // a NUL escape ends the argument's text
    };
    for (const auto &[line, args] : cases) {
        const Tokens t = tokenize(line);
        EXPECT_EQ(t.result, 0) << line;
        EXPECT_EQ(t.argv, args) << line;
    }
    for (const char *comment : {"# note", "   #note", "#"})
        EXPECT_EQ(tokenize(comment).argc, -7) << comment;
    EXPECT_EQ(tokenize("echo \"abc\\").result, -1);  // a lone backslash ends the quote
}

// At most forty arguments are taken; rip cuts at the first LF, then at the first CR.
TEST(Tokenizer, AtMostFortyArgumentsAndRip) {
    std::string line;
    for (int i = 0; i < 45; ++i)
        line += "w" + std::to_string(i) + " ";
    const Tokens t = tokenize(line);
    EXPECT_EQ(t.argc, MAX_ARGS);
    EXPECT_EQ(t.argv.back(), "w39");
    char a[] = "one\rtwo\nthree", b[] = "x\n\ry";
    rip(a);
    rip(b);
    EXPECT_STREQ(a, "one");
    EXPECT_STREQ(b, "x");
}

}  // namespace
