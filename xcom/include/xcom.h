/*
 * XCOM client connection: one TCP connection to the application, a reader
 * thread that hands every received line to a callback, and serialised sends.
 */
#ifndef XCOM_H
#define XCOM_H

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

/* Opaque handle of one client connection. */
typedef void *HXCOM;

/*
 * Called on the connection's reader thread with one cleaned line (NUL-terminated,
 * without its LF, owned by the reader and overwritten by the next line), and exactly
 * once with a null msg when the incoming stream has ended (at the latest during
 * xcom_client_disconnect). The result is ignored. Must not call xcom_client_disconnect.
 */
typedef int (*XCOMCallBackT)(HXCOM h_client, char *msg);

/*
 * Connects to server:port_number (host name or dotted IPv4 address) and starts the
 * reader thread. Returns a handle the caller owns until xcom_client_disconnect, or
 * null on any failure, a null server or callback included (nothing printed, no
 * descriptor left open). One attempt only, at most 10 seconds. Any thread.
 */
HXCOM xcom_client_connect(const char *server, int port_number,
                          XCOMCallBackT callback) XCOM_NOEXCEPT;

/*
 * Sends command (cut to its first 1024 bytes) followed by one LF, as one write that
 * never interleaves with another sender's message. Any thread while the handle is
 * valid. 0 on success (or when the peer did not take the bytes within 10 seconds),
 * -1 on failure or a null handle or command.
 */
int xcom_client_send(HXCOM h_client, const char *command) XCOM_NOEXCEPT;

/*
 * Closes the connection and returns only after the reader thread has ended; the
 * callback is never called after this returns. Releases the handle; returns 0.
 * Any thread but the reader's: from inside the callback, or with a null handle, it
 * does nothing and returns -1.
 */
int xcom_client_disconnect(HXCOM h_client) XCOM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* XCOM_H */
