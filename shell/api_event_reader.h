// The reader of the API listener socket: prints the lines the application sends there
// (a command's output, asynchronous events) as background text, or hands the next one
// over as the result of a login or logout.
#pragma once

class AppLink;
class SessionLog;
class TerminalOutput;

// Starts the reader thread on fd (whose sender credentials are enabled), which then owns
// fd. False when the thread cannot be started (fd stays the caller's). Main thread.
bool start_api_event_reader(int fd, TerminalOutput &output, AppLink &link, const SessionLog &log);
