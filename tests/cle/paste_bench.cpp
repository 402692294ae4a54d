// Benchmark: a 3 MiB paste of 100-character lines through the editor, side by side with
// a raw pty echo of the same bytes. Prints both times and their ratio; asserts nothing.
#include <chrono>
#include <cstdio>

#include "pty_session.h"

namespace {

double paste_seconds(std::vector<std::string> args, const std::string &paste) {
    cle_test::PtySession s({std::move(args)});
    s.report();  // the editor took the terminal
    const auto t0 = std::chrono::steady_clock::now();
    s.type(paste);
    while (s.report().tag != 'C') {
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
    std::string paste;
    for (int i = 0; paste.size() < 3u << 20; ++i) {
        for (int c = 0; c < 100; ++c)
            paste += static_cast<char>('!' + (i + c) % 94);
        paste += '\r';
    }
    paste += '\x04';
    const double raw = paste_seconds({"--raw-echo"}, paste);
    const double editor = paste_seconds({"--locks", "--calls", "1000000"}, paste);
    std::printf("3 MiB paste: raw pty echo %.2f s, editor %.2f s, ratio %.1f\n", raw, editor,
                editor / raw);
    return 0;
}
