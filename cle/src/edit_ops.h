// The line being edited and the operations on it, each with its echo. The cursor is
// tracked in screen terms (line_x, line_y from the row where the prompt starts) so that
// lines wrapping over several rows can be edited. Flushing is the key loop's business.
#pragma once

#include <cstddef>
#include <string_view>

#include "text.h"

namespace cle::edit {

// Guard: main thread only; valid during one call of the editor.
struct Line {
    char *cmdbuff = nullptr;  // the caller's buffer, NUL-terminated at cmdlen
    int max_len = 1;          // room of cmdbuff; at most max_len - 1 characters
    Text cmdprompt;           // the prompt of the call ("" for none)
    int cmdlen = 0;           // characters in the buffer
    int cmdptr = 0;           // cursor position in the buffer
    int line_x = 0;           // screen column of the cursor
    int line_y = 0;           // screen row of the cursor, counted from the prompt's row
};

// The one line of the process's editor.
Line &line();

// Starts a call: empties buffer, keeps a copy of the prompt, learns the width and puts
// the cursor after the prompt. False when there is no memory for the copy.
bool begin(Line &l, const char *prompt, char *buffer, int max_len);
// Learns the width if not yet known and folds the cursor column into rows.
void check_term(Line &l);

void insert(Line &l, char c);
// With the cursor at the end of the line: inserts the leading printable bytes of text
// one after the other (a paste arrives so), each refused with BEL once the line is full,
// with the echo each insert would make. Returns how many bytes it took.
std::size_t append_printable(Line &l, std::string_view text);
void edit_backspace(Line &l);
void edit_delete(Line &l);
void edit_clear(Line &l);
void edit_home(Line &l);
void edit_end(Line &l);
void edit_left(Line &l);
void edit_right(Line &l);
// Replaces the whole text (printable bytes only, cut to fit) and leaves the cursor at
// its end.
void replace_text(Line &l, std::string_view text);
// Moves the cursor down to the last row of the text, so that what follows the line
// cannot overwrite it.
void move_below_text(Line &l);
void beep();

}  // namespace cle::edit
