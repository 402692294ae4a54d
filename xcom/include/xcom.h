/*
 * XCOM client connection: one TCP connection to the application, a reader
 * thread that hands every received line to a callback, and serialised sends.
 */
#ifndef XCOM_H
#define XCOM_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle of one client connection. */
typedef void *HXCOM;

/*
 * Called on the connection's reader thread with one cleaned line (NUL-terminated,
 * without its LF, owned by the reader and overwritten by the next line), and once
 * with a null msg when the incoming stream has ended. The result is ignored.
 * Must not call xcom_client_disconnect.
 */
typedef int (*XCOMCallBackT)(HXCOM h_client, char *msg);

/*
 * Connects to server:port_number (host name or dotted IPv4 address) and starts the
 * reader thread. Returns a handle the caller owns until xcom_client_disconnect, or
 * null on any failure (nothing printed, no descriptor left open). One attempt only.
 */
HXCOM xcom_client_connect(const char *server, int port_number, XCOMCallBackT callback);

/*
 * Sends command (cut to its first 1024 bytes) followed by one LF, as one message that
 * never interleaves with another sender's. Any thread. 0 on success, -1 on failure.
 */
int xcom_client_send(HXCOM h_client, const char *command);

/*
 * Closes the connection and returns only after the reader thread has ended; the
 * callback is never called after this returns. Releases the handle. Returns 0.
 */
int xcom_client_disconnect(HXCOM h_client);

#ifdef __cplusplus
}
#endif

#endif /* XCOM_H */
