/*
 * Splitting a command line into arguments, in place: blanks separate arguments, a
 * double-quoted argument may hold blanks and C-style escapes, and a line whose first
 * argument begins with "#" is a comment. Plus the small helpers that go with it.
 * Pure functions; any thread.
 */
#ifndef COMMAND_PARSING_H
#define COMMAND_PARSING_H

#ifdef __cplusplus
extern "C" {
#endif

/* Most arguments an argument vector holds; later ones are dropped. */
#define MAX_ARGS 40

/*
 * Splits line (modified: separators become NULs, quoted arguments are unescaped where
 * they stand) into argv (MAX_ARGS slots, pointing into line) and *argc. 0 on success;
 * 0 with *argc untouched for a comment line; -1 when a quoted argument ends in a lone
 * backslash. An empty or blank line gives one empty argument.
 */
int tokenizeString(char *line, int *argc, char **argv);

/*
 * Unescapes the quoted argument starting at line (just after its opening quote) in
 * place. Returns the position after the closing quote, the position of the line's
 * NUL when there is none, or null when a backslash is the last character.
 */
char *findDelimiter(char *line);

/* Cuts line at its first LF, then at the first CR that remains. */
void rip(char *line);

/* Joins argv[0..argc-1] with single blanks into buffer, which the caller sizes. */
void make_normalized_string(char *buffer, int argc, char **argv);

/* New state of an on/off setting: -1 for "on", 0 for "off" (any case), otherwise the
 * inverse of current_state. */
int get_bool_parm(int argc, char **argv, int current_state);

#ifdef __cplusplus
}
#endif

#endif /* COMMAND_PARSING_H */
