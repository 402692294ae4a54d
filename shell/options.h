// The command-line options of vela. Main thread, during start-up.
#pragma once

struct SessionConfig;
class SessionLog;

enum class Options {
    kRun,      // all valid
    kHelp,     // "--help" was met: the usage has been printed
    kInvalid,  // an error was reported and the usage printed
};

// Reads the options into config, printing what is wrong (log mirrors nothing yet).
Options get_args(int argc, char **argv, SessionConfig &config, const SessionLog &log);

// Prints the four usage lines.
void usage(const SessionLog &log);
