// Random editing on narrow windows, replayed on a VT100 screen model: after every key
// the screen must show exactly prompt + line, with the cursor on the edit position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <random>
#include <sstream>

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
class Vt100Screen {
  public:
    explicit Vt100Screen(int cols) : cols_(cols) {}

    int row() const { return row_; }
    int col() const { return col_; }
    bool wrap_pending() const { return pending_; }
    // Rows 0 .. last used, each padded with blanks to the full width.
    std::vector<std::string> rows() const {
        std::vector<std::string> out = cells_;
        out.resize(std::max<size_t>(cells_.size(), lowest_ + 1), std::string(cols_, ' '));
        return out;
    }
    // Everything the model could not follow or that no real screen would allow.
    const std::string &errors() const { return errors_; }

    void feed(std::string_view bytes) {
        for (const char c : bytes) {
            if (!seq_.empty()) {
                seq_ += c;
                if (seq_.size() == 2 && c != '[') errors_ += "ESC without [; ";
                if (seq_.size() > 2 && (c < '0' || c > '9')) {
                    const std::string digits = seq_.substr(2, seq_.size() - 3);
                    if (digits.empty() && c != 'J') errors_ += "move without a count; ";
                    if (!digits.empty() && c == 'J') errors_ += "erase with a count; ";
                    control(c, std::atoi(digits.c_str()));
                    seq_.clear();
                }
            } else if (c == '\x1b') {
                seq_.assign(1, c);
            } else if (c == '\r' || c == '\n' || c == '\b') {
                if (c == '\r') col_ = 0;
                if (c == '\n') lowest_ = std::max(lowest_, ++row_);
                if (c == '\b' && col_ > 0) --col_;
                pending_ = false;
            } else if (c >= 0x20 && c <= 0x7e) {
                put(c);
            } else if (c != '\a' && c != '\0') {
                errors_ += "unexpected control byte; ";
            }
        }
    }

  private:
    char &cell(int r, int c) {
        if (static_cast<int>(cells_.size()) <= r) cells_.resize(r + 1, std::string(cols_, ' '));
        return cells_[r][c];
    }
    void put(char c) {
        if (pending_) {
            col_ = 0;
            lowest_ = std::max(lowest_, ++row_);
            pending_ = false;
        }
        cell(row_, col_) = c;
        pending_ = col_ == cols_ - 1;
        if (!pending_) ++col_;
    }
    void control(char final, int n) {
        n = std::max(n, 1);  // a VT100 reads a count of 0 as 1
        pending_ = false;
        if (final == 'A') {
            if (row_ - n < 0) errors_ += "cursor up above the prompt row; ";
            row_ = std::max(0, row_ - n);
        } else if (final == 'B') {
            // A real screen stops at its last row; moving below what exists is an error.
            if (row_ + n > lowest_) errors_ += "cursor down below the text; ";
            row_ = std::min(lowest_, row_ + n);
        } else if (final == 'C') {
            col_ = std::min(cols_ - 1, col_ + n);
        } else if (final == 'J') {
            for (int c = col_; c < cols_; ++c)
                cell(row_, c) = ' ';
            cells_.resize(std::min<size_t>(cells_.size(), row_ + 1));
        } else {
            errors_.append("unknown sequence ESC [ ").append(seq_, 2).append("; ");
        }
    }
    int cols_;
    int row_ = 0, col_ = 0;
    bool pending_ = false;
    int lowest_ = 0;  // lowest row the cursor has reached by writing or line feeds
    std::vector<std::string> cells_;
    std::string seq_;  // an escape sequence being read
    std::string errors_;
};

enum class Kind { Insert, Backspace, Delete, Home, End, Left, Right, Clear, Up, Down };

struct KeyDef {
    Kind kind;
    int weight;
    std::vector<std::string> encodings;
};

const std::vector<KeyDef> kKeys = {
    {Kind::Insert, 30, {}},
    {Kind::Backspace, 8, {"\x08", "\x7f"}},
    {Kind::Delete, 6, {"\x1b[3~"}},
    {Kind::Home, 4, {"\x01", "\x1b[H", "\x1b[1~", "\x1bOH"}},
    {Kind::End, 4, {"\x05", "\x1b[F", "\x1b[4~", "\x1b[K", "\x1bOF"}},
    {Kind::Left, 10, {"\x02", "\x1b[D"}},
    {Kind::Right, 8, {"\x06", "\x1b[C"}},
    {Kind::Clear, 1, {"\x03"}},
    {Kind::Up, 3, {"\x1b[A", "\x1bOA"}},
    {Kind::Down, 3, {"\x1b[B", "\x1bOB"}},
};

// What the line should be: the editing rules without any terminal.
struct RefLine {
    std::string text;
    size_t cur = 0, room = 0;
    std::deque<std::string> history;  // newest first
    int age = -1;
    std::string typed;

    void show(int new_age) {
        if (age < 0) typed = text;
        age = new_age;
        text = age < 0 ? typed : history[age].substr(0, room);
        cur = text.size();
    }
    void apply(Kind k, char c) {
        switch (k) {
            case Kind::Insert:
                if (text.size() < room) text.insert(cur++, 1, c);
                break;
            case Kind::Backspace:
                if (cur > 0) text.erase(--cur, 1);
                break;
            case Kind::Delete:
                if (cur < text.size()) text.erase(cur, 1);
                break;
            case Kind::Home:
                cur = 0;
                break;
            case Kind::End:
                cur = text.size();
                break;
            case Kind::Left:
                cur -= cur > 0 ? 1 : 0;
                break;
            case Kind::Right:
                cur += cur < text.size() ? 1 : 0;
                break;
            case Kind::Clear:
                text.clear(), cur = 0;
                break;
            case Kind::Up:
                if (age + 1 < static_cast<int>(history.size())) show(age + 1);
                break;
            case Kind::Down:
                if (age >= 0) show(age - 1);
                break;
        }
    }
};

std::string dump(const Vt100Screen &screen) {
    std::ostringstream out;
    for (const auto &row : screen.rows())
        out << "|" << row << "|\n";
    out << "cursor " << screen.row() << "," << screen.col()
        << (screen.wrap_pending() ? " pending" : "") << "\n"
        << screen.errors();
    return out.str();
}

// The screen shows prompt + text and the cursor stands at the edit position.
testing::AssertionResult shows(const Vt100Screen &screen, const std::string &prompt,
                               const RefLine &ref, int cols) {
    const std::string all = prompt + ref.text;
    const auto rows = screen.rows();
    for (size_t r = 0; r < rows.size() || r * cols < all.size(); ++r) {
        std::string want = r * cols < all.size() ? all.substr(r * cols, cols) : "";
        want.resize(cols, ' ');
        if (r >= rows.size() || rows[r] != want) return testing::AssertionFailure() << "row " << r;
    }
    const size_t pos = prompt.size() + ref.cur;
    if (!screen.errors().empty() || screen.wrap_pending() ||
        screen.row() != static_cast<int>(pos / cols) ||
        screen.col() != static_cast<int>(pos % cols))
        return testing::AssertionFailure() << "cursor or sequence";
    return testing::AssertionSuccess();
}

void random_session(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int cols = 10 + pick(11);
    const int prompt_lengths[] = {0, 2, cols - 1, cols, cols + 3};
    const std::string prompt(prompt_lengths[pick(5)], '>');
    const int max_len = 15 + pick(45);
    RefLine ref;
    ref.room = static_cast<size_t>(max_len - 1);
    PtyOptions o{{"--callbacks", "--record", "--calls", "3", "--max", std::to_string(max_len)}};
    o.cols = static_cast<unsigned short>(cols);
    o.raw_output = false;  // as a real terminal: LF goes out as CR LF
    for (const int len :
         {2 * cols - static_cast<int>(prompt.size()), pick(max_len + 8), 0, pick(30)}) {
        ref.history.push_front(std::string(std::max(len, 0), static_cast<char>('a' + pick(26))));
        o.args.insert(o.args.end(), {"--history", ref.history.front()});
    }
    if (!prompt.empty()) o.args.insert(o.args.end(), {"--prompt", prompt});
    auto s = start(o);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", width " + std::to_string(cols) + ", prompt " +
                 std::to_string(prompt.size()) + ", max_len " + std::to_string(max_len));

    int unlocks = 0;
    for (int call = 0; call < 3; ++call) {
        Vt100Screen screen(cols);
        if (!prompt.empty()) screen.feed(s->echo_through(++unlocks));
        std::string keys_so_far;
        for (int n = 0; n < 60; ++n) {
            int w = pick(77);  // the sum of the weights
            size_t i = 0;
            while (w >= kKeys[i].weight)
                w -= kKeys[i++].weight;
            const KeyDef &k = kKeys[i];
            const char c = static_cast<char>('A' + pick(26));
            const std::string bytes = k.kind == Kind::Insert
                                          ? std::string(1, c)
                                          : k.encodings[pick(static_cast<int>(k.encodings.size()))];
            keys_so_far += testing::PrintToString(bytes) + " ";
            screen.feed(s->key(bytes));
            ++unlocks;
            ref.apply(k.kind, c);
            ASSERT_TRUE(shows(screen, prompt, ref, cols)) << "after keys " << keys_so_far << "\n"
                                                          << dump(screen);
        }
        s->type("\r");
        const Report r = s->report();
        expect_line(r, 0, ref.text);
        unlocks = r.num("unlocks");
        const int last_row =
            static_cast<int>((prompt.size() + ref.text.size() + cols - 1) / cols) - 1;
        screen.feed(s->echo_through(unlocks));
        EXPECT_GT(screen.row(), std::max(last_row, 0)) << dump(screen);  // below the line
        EXPECT_EQ(screen.col(), 0);
        ref.history.push_front(ref.text);
        ref = RefLine{{}, 0, ref.room, ref.history, -1, {}};
    }
}

TEST(EditorScreen, RandomEditsOnNarrowWindows) {
    for (unsigned seed = 1; seed <= 12; ++seed)
        random_session(seed);
}

}  // namespace
}  // namespace cle_test
