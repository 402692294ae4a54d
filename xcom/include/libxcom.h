/*
 * XCOM line transport: LF-terminated text lines on a connected stream or datagram
 * socket, with a bounded reassembly buffer, line cleaning and small utilities.
 * Holds no connection state; callers own their reader buffers.
 */
#ifndef LIBXCOM_H
#define LIBXCOM_H

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
 * *buflen to 0) before the first call and leave its contents to the reader.
 */
#define XCOM_READ_BUFFER_SIZE (XCOM_MAX_HELD + 1 + 8)

/* selectOne condition bits, both asked for and reported. */
#define XCOM_SELECT_READ 1
#define XCOM_SELECT_WRITE 2
#define XCOM_SELECT_EXCEPTION 4

/*
 * Reads the next cleaned line into line (XCOM_LINE_BUFFER_SIZE bytes). buffer and
 * *buflen are the caller's per-socket state (one reading thread per socket). timeout
 * is in seconds, 0 waits without limit. Returns the line length (> 0); 0 when the
 * wait timed out or the cleaned line is empty; -1 on error, peer close, a line over
 * XCOM_MAX_LINE bytes or XCOM_MAX_HELD bytes without a LF.
 */
int socket_read_line(int socket, char *buffer, int *buflen, char *line, int timeout);

/*
 * Sends the NUL-terminated line, waiting up to 10 seconds each time for the socket
 * to become writable. 0 when all was sent or a wait timed out; -1 on error.
 * Does not serialise writers: callers sharing a socket hold their own lock.
 */
int socket_write_line(int socket, const char *line);

/* Waits for the XCOM_SELECT_* conditions in flags; timeout in seconds (0 returns at
 * once, negative waits without limit). The reported bits, 0 on timeout, -1 on error. */
int selectOne(int socket, int flags, int timeout);

/* Writes prefix (may be null) and the formatted text, at most 511 characters in all,
 * to standard output; returns the number of characters written. */
int xcom_log(const char *prefix, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

/* The diagnostic switch; off unless a program turns it on. */
int xcom_should_print_errors(void);
/* Sets the diagnostic switch and returns its previous value. */
int xcom_log_errors(int bLogErrors);

/* "libxcom 0.0.1"; static storage. */
const char *xcom_get_version(void);

/* Printable dump of len bytes into output (room for 4 * len + 1); returns output. */
char *hexasc(const char *buff, int len, char *output);

/* Doubly linked list node; ptr is the caller's payload, not owned by the list. */
typedef struct _xlist {
    struct _xlist *next;
    struct _xlist *prev;
    void *ptr;
} xlist;

/* Appends a node holding ptr; the list owns the node. Null if allocation fails. */
xlist *xlist_add(xlist **head, void *ptr);
/* Unlinks and releases element (not its payload). */
void xlist_remove(xlist **head, xlist *element);
/* Calls callback on each node from head; stops at the first non-zero return. */
void xlist_walk(xlist *head, int (*callback)(xlist *));
/* Number of nodes. */
int xlist_size(xlist *head);

#ifdef __cplusplus
}
#endif

#endif /* LIBXCOM_H */
