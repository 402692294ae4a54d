// Random editing on narrow windows, replayed on a VT100 screen model: after every key
// the screen must show exactly prompt + line, with the cursor on the edit position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <random>
#include <regex>

#include "pty_session.h"

namespace cle_test {
namespace {

// A small VT100 screen: enough of the terminal to replay the editor's echo and see what
// the user sees. Row 0 is the row on which the editor's prompt starts.
//
// At the right margin it behaves like a real VT100 (and xterm): a character written in
// the last column leaves the cursor on that column with a wrap pending; only the next
// printable character moves to the next row, while CR, BS and cursor moves cancel the
// pending wrap and act from the last column. A cursor in that state is not "at" the next
// row: an erase or a move would act on the last column, so the tests demand that the
// editor never leaves the cursor pending between keys.
struct Screen {
    int cols;
    int row = 0, col = 0;
    int lowest = 0;        // lowest row the cursor has reached by writing or line feeds
    bool pending = false;  // a wrap pending at the margin
    std::vector<std::string> cells = {};
    std::string seq = {};     // an escape sequence being read
    std::string errors = {};  // everything the model could not follow or no real screen allows

    void feed(std::string_view bytes) {
        for (const char c : bytes) {
            if (!seq.empty() || c == '\x1b') {
                sequence(c);
            } else if (c >= 0x20 && c <= 0x7e) {
                if (pending) col = 0, lowest = std::max(lowest, ++row);
                if (static_cast<int>(cells.size()) <= row)
                    cells.resize(row + 1, std::string(cols, ' '));
                cells[row][col] = c;
                pending = col == cols - 1;
                col += pending ? 0 : 1;
            } else if (c == '\r' || c == '\n' || c == '\b') {
                if (c == '\r') col = 0;
                if (c == '\n') lowest = std::max(lowest, ++row);
                if (c == '\b' && col > 0) --col;
                pending = false;
            } else if (c != '\a') {
                errors += "unexpected control byte; ";
            }
        }
    }
    // ESC [ n A, B or C (n > 0) and ESC [ J, a byte at a time.
    void sequence(char c) {
        seq += c;
        if (seq.size() < 3 || (c >= '0' && c <= '9')) return;
        static const std::regex known("\x1b\\[([1-9][0-9]*[ABC]|J)");
        if (!std::regex_match(seq, known)) errors += "unknown sequence " + seq.substr(1) + "; ";
        const int n = std::atoi(seq.c_str() + 2);
        seq.clear();
        pending = false;
        // A real screen stops at its edges; moving past the text is an error.
        if ((c == 'A' && row - n < 0) || (c == 'B' && row + n > lowest)) errors += "moved off; ";
        if (c == 'A') row = std::max(0, row - n);
        if (c == 'B') row = std::min(lowest, row + n);
        if (c == 'C') col = std::min(cols - 1, col + n);
        if (c == 'J') {
            cells.resize(std::min<size_t>(cells.size(), row + 1));
            if (row < static_cast<int>(cells.size()))
                cells[row].replace(col, cols - col, cols - col, ' ');
        }
    }
};

// The screen shows all (prompt + text) and nothing else, and the cursor stands at pos.
testing::AssertionResult shows(const Screen &screen, const std::string &all, size_t pos) {
    std::string shown, rows;  // the screen's rows one after the other, and as a picture
    for (const std::string &row : screen.cells)
        shown += row, rows += "|" + row + "|\n";
    const size_t at = static_cast<size_t>(screen.row * screen.cols + screen.col);
    if (screen.errors.empty() && !screen.pending && at == pos && shown.size() >= all.size() &&
        shown == all + std::string(shown.size() - all.size(), ' '))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << rows << "cursor " << screen.row << "," << screen.col
                                       << (screen.pending ? " pending " : " ") << screen.errors;
}

// What the line should be: the editing rules without any terminal.
struct RefLine {
    std::string text = {}, typed = {};  // typed: the user's own line while an entry is shown
    size_t cur = 0, room = 0;
    std::deque<std::string> history = {};  // newest first
    int age = -1;                          // entry shown, -1 for the user's own line

    void recall(int to) {
        if (to < -1 || to >= static_cast<int>(history.size())) return;
        if (age < 0) typed = text;
        age = to;
        text = age < 0 ? typed : history[age].substr(0, room);
        cur = text.size();
    }
};

struct KeyDef {
    int weight;
    std::vector<std::string> encodings;  // none: a printable key
    void (*apply)(RefLine &, char);
};

// clang-format off
const KeyDef kKeys[] = {
    {30, {}, [](RefLine &l, char c) { if (l.text.size() < l.room) l.text.insert(l.cur++, 1, c); }},
    {8, {"\x08", "\x7f"}, [](RefLine &l, char) { if (l.cur > 0) l.text.erase(--l.cur, 1); }},
    {6, {"\x1b[3~"}, [](RefLine &l, char) { if (l.cur < l.text.size()) l.text.erase(l.cur, 1); }},
    {4, {"\x01", "\x1b[H", "\x1b[1~", "\x1bOH"}, [](RefLine &l, char) { l.cur = 0; }},
    {4, {"\x05", "\x1b[F", "\x1b[4~", "\x1b[K", "\x1bOF"},
     [](RefLine &l, char) { l.cur = l.text.size(); }},
    {10, {"\x02", "\x1b[D"}, [](RefLine &l, char) { l.cur -= l.cur > 0 ? 1 : 0; }},
    {8, {"\x06", "\x1b[C"}, [](RefLine &l, char) { l.cur += l.cur < l.text.size() ? 1 : 0; }},
    {1, {"\x03"}, [](RefLine &l, char) { l.text.clear(), l.cur = 0; }},
    {3, {"\x1b[A", "\x1bOA"}, [](RefLine &l, char) { l.recall(l.age + 1); }},
    {3, {"\x1b[B", "\x1bOB"}, [](RefLine &l, char) { l.recall(l.age - 1); }},
};
// clang-format on

void random_session(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int cols = 10 + pick(11);
    const int prompt_lengths[] = {0, 2, cols - 1, cols, cols + 3};
    const std::string prompt(prompt_lengths[pick(5)], '>');
    const int max_len = 15 + pick(45);
    RefLine ref{.room = static_cast<size_t>(max_len - 1)};
    PtyOptions o{.prompt = prompt.c_str(), .max_len = max_len, .calls = 3, .record = true};
    o.cols = static_cast<unsigned short>(cols);
    o.raw_output = false;  // as a real terminal: LF goes out as CR LF
    for (const int len :
         {2 * cols - static_cast<int>(prompt.size()), pick(max_len + 8), 0, pick(30)}) {
        ref.history.push_front(std::string(std::max(len, 0), static_cast<char>('a' + pick(26))));
        o.history.push_back(ref.history.front());
    }
    PtySession s(o);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", width " + std::to_string(cols) + ", prompt " +
                 std::to_string(prompt.size()) + ", max_len " + std::to_string(max_len));

    for (int call = 0; call < 3; ++call) {
        Screen screen{cols};
        if (!prompt.empty()) screen.feed(s.key(""));
        std::string keys_so_far;
        for (int n = 0; n < 60; ++n) {
            int w = pick(77);  // the sum of the weights
            size_t i = 0;
            while (w >= kKeys[i].weight)
                w -= kKeys[i++].weight;
            const KeyDef &k = kKeys[i];
            const char c = static_cast<char>('A' + pick(26));
            const std::string bytes = k.encodings.empty()
                                          ? std::string(1, c)
                                          : k.encodings[pick(static_cast<int>(k.encodings.size()))];
            keys_so_far += testing::PrintToString(bytes) + " ";
            screen.feed(s.key(bytes));
            k.apply(ref, c);
            ASSERT_TRUE(shows(screen, prompt + ref.text, prompt.size() + ref.cur))
                << "after keys " << keys_so_far;
        }
        s.type("\r");
        const Report r = s.report();
        expect_line(r, 0, ref.text);
        screen.feed(s.echo_through(r.marks));
        const int used = static_cast<int>(prompt.size() + ref.text.size());
        EXPECT_GE(screen.row * cols, std::max(used, 1)) << "below the line";
        EXPECT_EQ(screen.col, 0);
        ref.history.push_front(ref.text);
        ref = RefLine{.room = ref.room, .history = ref.history};
    }
}

TEST(EditorScreen, RandomEditsOnNarrowWindows) {
    for (unsigned seed = 1; seed <= 12; ++seed)
        random_session(seed);
}

}  // namespace
}  // namespace cle_test
