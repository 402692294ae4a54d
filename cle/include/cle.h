/*
 * Command-line editor: reads one line at a time from the terminal on standard input,
 * echoing and editing it on standard output with VT100 sequences; keeps a ring of
 * recent lines; lets the caller lock its output and learn when a line is being typed.
 * One editor per process. Every function is for the main thread only, unless noted.
 */
#ifndef CLE_H
#define CLE_H

#ifdef __cplusplus
#define CLE_NOEXCEPT noexcept
extern "C" {
#else
#define CLE_NOEXCEPT
#endif

/* Output-lock callback: lock 1 takes the caller's output lock, 0 releases it.
 * tag is always null. */
typedef void (*cle_LockCallbackT)(int lock, char *tag);
/* Typing report: state 1 when the first character of a line has been typed,
 * 0 when the line was ended with Enter. */
typedef void (*cle_InlineCallbackT)(int state);

/* --- Line editing --- */

/*
 * Shows prompt (null for none), edits a line in buffer (room for max_len bytes, at
 * most max_len - 1 characters, only bytes 0x20-0x7E) and returns 0 when Enter ended
 * it. Returns -1 on Ctrl-D, end of input, a read error or an expired time limit
 * (see cle_did_session_timeout and cle_did_import_timeout), and at once for a null
 * buffer or max_len < 1. Up and Down recall history entries into the line.
 * buffer stays the caller's. Calls the lock callback around everything it writes.
 */
int cle_get_command_line(char *prompt, char *buffer, int max_len) CLE_NOEXCEPT;

/* Waits (within the current time limit) for one byte of standard input; 0 with the
 * byte in *ch, or -1 on a failed wait, an expired limit, a read error or end of input.
 * Reads ahead what is already available: after cle_init nothing else may read fd 0. */
int read_char(char *ch) CLE_NOEXCEPT;

/* Writes the last prompt and the line of the last call again, unchanged (whatever the
 * echo switch); 1 when anything was written, else 0. */
int cle_refresh_line(void) CLE_NOEXCEPT;

/* --- History ring of the last 64 lines --- */

/* Records an owned copy of line as the newest entry (dropping the oldest once 64 are
 * held). While the command filter is on, a line whose first word is "setpassword" or
 * "webmonitoring" is not recorded. Returns 0 when recorded, 1 when filtered out,
 * -1 for a null line or no memory. */
int cle_history_add(const char *line) CLE_NOEXCEPT;
/* The line in slot index (0-63), or null; owned by the library, valid until the entry
 * is replaced or released. */
const char *cle_history(int index) CLE_NOEXCEPT;
/* Number of entries, 0-64. */
int cle_history_size(void) CLE_NOEXCEPT;
/* Slot of the oldest entry. */
int cle_history_get_start(void) CLE_NOEXCEPT;
/* Replaces the newest entry with an owned copy of replacement (which may be any
 * entry itself). 0; -1 when replacement is null or the ring is empty (which stays
 * empty). */
int cle_history_replace_last_entry(const char *replacement) CLE_NOEXCEPT;
/* Sets the command filter (non-zero on) and returns its previous setting. */
int cle_history_command_filter(int x) CLE_NOEXCEPT;

/* --- Callbacks and time limits --- */

/* Installs the output-lock callback (null removes it); before the first editor call. */
void cle_register_sync_callbacks(cle_LockCallbackT cb) CLE_NOEXCEPT;
/* Installs the typing-report callback (null removes it); before the first editor call. */
void cle_register_inline_callback(cle_InlineCallbackT cb) CLE_NOEXCEPT;
/* Marks an import in progress (non-zero): each byte must then arrive within a minute. */
void cle_set_import_state(int state) CLE_NOEXCEPT;
/* -1 once the idle limit has expired (never cleared), else 0. */
int cle_did_session_timeout(void) CLE_NOEXCEPT;
/* -1 when the last wait ended by the import limit, until the next wait begins. */
int cle_did_import_timeout(void) CLE_NOEXCEPT;

/* --- Terminal control --- */

/* Saves the terminal modes of standard input and sets the editor's; nIdolTimeout is
 * the idle limit in minutes (0 or less: none). 0, or -1 when the modes cannot be read. */
int cle_init(int nIdolTimeout) CLE_NOEXCEPT;
/* Restores the terminal and the previous SIGWINCH handler, releases the history. 0.
 * Bytes read ahead but not yet used by the editor are dropped. */
int cle_cleanup(void) CLE_NOEXCEPT;
/* Restores the saved terminal modes; 0 or -1. */
int cle_reset_term(void) CLE_NOEXCEPT;
/* Echo of the editor's output on (non-zero) or off. */
void cle_echo_enable(int echo) CLE_NOEXCEPT;
/* Non-zero: no CR/NL translation by the terminal (set before cle_init). */
void cle_no_cr_translation(int disable) CLE_NOEXCEPT;
/* Line ends echoed as LF CR; also disables CR/NL translation (set before cle_init). */
void cle_eol_nl_cr(void) CLE_NOEXCEPT;
/* Line ends echoed as CR LF (the default). */
void cle_eol_cr_nl(void) CLE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* CLE_H */
