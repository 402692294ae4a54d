// Cleaning of one received line.
#pragma once

namespace xcom {

// Removes every NUL among the first length bytes of line and terminates the rest;
// returns the number removed. O(length).
int xcom_remove_nulls(char *line, int length) noexcept;

// Cleans line (length bytes, LF included) in place and terminates it: NULs removed;
// if there were any, every '%' becomes a space and on_nulls (may be null) sees the line;
// then leading 0x01-0x1F and trailing 0x00-0x1F bytes removed. Returns the new length.
int clean_line(char *line, int length, void (*on_nulls)(const char *line)) noexcept;

}  // namespace xcom
