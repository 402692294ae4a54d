// A small VT100 screen: enough of the terminal to replay the editor's echo and see what
// the user sees. Row 0 is the row on which the editor's prompt starts.
//
// At the right margin it behaves like a real VT100 (and xterm): a character written in
// the last column leaves the cursor on that column with a wrap pending; only the next
// printable character moves to the next row, while CR, BS and cursor moves cancel the
// pending wrap and act from the last column. A cursor in that state is not "at" the next
// row: an erase or a move would act on the last column, so the tests demand that the
// editor never leaves the cursor pending between keys.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cle_test {

class Vt100Screen {
  public:
    explicit Vt100Screen(int cols) : cols_(cols) {}

    void feed(std::string_view bytes);

    int row() const { return row_; }
    int col() const { return col_; }
    bool wrap_pending() const { return pending_; }
    // Rows 0 .. last used, each padded with blanks to the full width.
    std::vector<std::string> rows() const;
    // Everything the model could not follow or that no real screen would allow.
    const std::string &errors() const { return errors_; }

  private:
    void put(char c);
    void control(char final, int n);
    char &cell(int r, int c);
    int cols_;
    int row_ = 0, col_ = 0;
    bool pending_ = false;
    int lowest_ = 0;  // lowest row the cursor has reached by writing or line feeds
    std::vector<std::string> cells_;
    std::string seq_;  // an escape sequence being read
    std::string errors_;
};

}  // namespace cle_test
