// The command loop: reads a line at a time and hands it to the import, the quit and
// reboot handling, the local commands or the application; then closes the session.
// Main thread.
#pragma once

// Runs the session from the first prompt to its end; returns the exit status.
int run_command_loop();

// Takes a ready token and reads one line into cmdbuff; the editor's result.
int get_input_command();

// "!" directly followed by text gets a blank after the "!".
void preprocess_legacy_bang_input_cmd(char *input);

// Releases the session: unregisters it, restores the terminal, disconnects from the
// application and destroys the loop's semaphores.
void cleanup();

// Clears the client address setting of the session type, then cleanup().
void done();

// What done() and cleanup() send (and the secure profile's logout), each only if the
// main thread has not sent it; waits for no reply longer than a second. Keeps the link
// for good. Termination thread only.
void send_farewell();
