// The login prompts' line reader on standard input: one line per call, what does not fit
// dropped up to its LF, false only when nothing came.
#include "login_terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

// Runs reads on a standard input that holds input and then ends: each call's result and
// line, "|"-separated, "-" for false.
std::string readLines(const std::string &input, size_t room, int calls) {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fds[1]);
    const int saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    std::string results;
    for (int i = 0; i < calls; ++i) {
        char buffer[16] = "untouched";
        errno = EINTR;  // left by an earlier interrupted call: not this read's error
        results += read_terminal_line(buffer, room) ? std::string(buffer) + "|" : "-|";
    }
    dup2(saved, 0);
    close(saved);
    return results;
}

TEST(LoginTerminal, OneLinePerCallAndWhatDoesNotFitIsDropped) {
    EXPECT_EQ(readLines("ab\ncd\n", 16, 3), "ab\n|cd\n|-|");
    EXPECT_EQ(readLines("abcdefgh\nnext\n", 4, 2), "abc|nex|") << "the rest of the line is dropped";
    EXPECT_EQ(readLines("last", 16, 2), "last|-|") << "the end of input ends the line";
    EXPECT_EQ(readLines("", 16, 1), "-|");
    EXPECT_EQ(readLines("x\n", 0, 1), "-|") << "no room at all";
}

}  // namespace
