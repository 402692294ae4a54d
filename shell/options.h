// The command-line options of vela. Main thread, during start-up.
#pragma once

// Reads the options into the session state. 0 when they were all valid; 1 after an
// error has been reported and the usage printed. "--help" prints the usage and ends
// the process with status 0 at once.
int get_args(int argc, char **argv);

// Prints the four usage lines.
void usage();
