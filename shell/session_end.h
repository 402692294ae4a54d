// The end of a session: what it sends on its way out and what it releases.
#pragma once

struct Session;

// The secure profile's logout; its result is awaited at most five seconds, and nothing
// is sent once the link has ended. Main thread.
void log_out(Session &session);

// Clears the client-address setting of the session type (while the link is up), then
// cleanup(). Main thread.
void done(Session &session);

// Unregisters the session, restores the terminal and disconnects from the application.
// Main thread.
void cleanup(Session &session);

// What log_out(), done() and cleanup() send, each only if the main thread has not sent
// it; waits for no reply longer than a second. Keeps the link for good. Termination
// thread only.
void send_farewell(Session &session);
