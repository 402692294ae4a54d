/*
 * XCOM line transport: LF-terminated text lines on a connected stream or datagram
 * socket, with a bounded reassembly buffer, line cleaning and small utilities.
 * Holds no connection state; callers own their reader buffers.
 */
#ifndef LIBXCOM_H
#define LIBXCOM_H

#ifndef XCOM_NOEXCEPT
#ifdef __cplusplus
#define XCOM_NOEXCEPT noexcept
#else
#define XCOM_NOEXCEPT
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Longest incoming line, LF included. */
#define XCOM_MAX_LINE 16384
/* Most bytes held while no LF has arrived. */
#define XCOM_MAX_HELD 32768
/* Size of the line buffer handed to socket_read_line: one line and its NUL. */
#define XCOM_LINE_BUFFER_SIZE (XCOM_MAX_LINE + 1)
/*
 * Size of the accumulation buffer handed to socket_read_line: the held bytes, their
 * NUL, and the reader's own bookkeeping. Zero it (or set its first byte to NUL and
 * *buflen to 0) before the first call and leave its contents to the reader: the held
 * bytes need not start at its first byte.
 */
#define XCOM_READ_BUFFER_SIZE (XCOM_MAX_HELD + 1 + 8)

/* selectOne condition bits, both asked for and reported. */
#define XCOM_SELECT_READ 1
#define XCOM_SELECT_WRITE 2
#define XCOM_SELECT_EXCEPTION 4

/*
 * Reads the next cleaned line into line (XCOM_LINE_BUFFER_SIZE bytes). buffer
 * (XCOM_READ_BUFFER_SIZE bytes) and *buflen (the count of held bytes) are the
 * caller's per-socket state, used by one thread at a time. timeout is in seconds,
 * 0 waits without limit. Returns the line length (> 0); 0 when the wait timed out
 * or the cleaned line is empty; -1 on error, peer close, a line over XCOM_MAX_LINE
 * bytes, XCOM_MAX_HELD bytes without a LF, a null pointer or *buflen out of range.
 */
int socket_read_line(int socket, char *buffer, int *buflen, char *line, int timeout) XCOM_NOEXCEPT;

/*
 * Sends the NUL-terminated line, waiting up to 10 seconds each time for the socket
 * to become writable. 0 when all was sent (an empty line sends nothing) or a wait
 * timed out; -1 on error or a null line. Never raises SIGPIPE. Any thread, but it
 * does not serialise writers: callers sharing a socket hold their own lock.
 */
int socket_write_line(int socket, const char *line) XCOM_NOEXCEPT;

/* Waits for the XCOM_SELECT_* conditions in flags; timeout in seconds (0 returns at
 * once, negative waits without limit). The reported bits, 0 on timeout, -1 on error
 * or a negative socket. Any thread. */
int selectOne(int socket, int flags, int timeout) XCOM_NOEXCEPT;

/* Writes prefix (may be null) and the formatted text, at most 511 characters in all,
 * to standard output; returns the number of characters written. Any thread. */
int xcom_log(const char *prefix, const char *fmt, ...) XCOM_NOEXCEPT
    __attribute__((format(printf, 2, 3)));

/* The diagnostic switch; off unless a program turns it on. Any thread. */
int xcom_should_print_errors(void) XCOM_NOEXCEPT;
/* Sets the diagnostic switch and returns its previous value. Any thread. */
int xcom_log_errors(int bLogErrors) XCOM_NOEXCEPT;

/* "libxcom 0.0.1"; static storage. Any thread. */
const char *xcom_get_version(void) XCOM_NOEXCEPT;

/* Printable dump of len bytes into output (the caller's, room for 4 * len + 1);
 * returns output. Any thread. */
char *hexasc(const char *buff, int len, char *output) XCOM_NOEXCEPT;

/* Doubly linked list node; ptr is the caller's payload, not owned by the list.
 * A list belongs to its caller, who serialises all access to it. */
typedef struct _xlist {
    struct _xlist *next;
    struct _xlist *prev;
    void *ptr;
} xlist;

/* Appends a node holding ptr; the list owns the node. Null if allocation fails. */
xlist *xlist_add(xlist **head, void *ptr) XCOM_NOEXCEPT;
/* Unlinks and releases element (not its payload). */
void xlist_remove(xlist **head, xlist *element) XCOM_NOEXCEPT;
/* Calls callback on each node from head; stops at the first non-zero return. */
void xlist_walk(xlist *head, int (*callback)(xlist *)) XCOM_NOEXCEPT;
/* Number of nodes. */
int xlist_size(xlist *head) XCOM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* LIBXCOM_H */
