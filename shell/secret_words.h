// The secret words of password commands ("setpassword USER ROLE OLD NEW" and
// "webmonitoring STATE SECRET"): they leave the shell only hex-encoded and never enter
// the history. Pure functions; any thread.
#pragma once

// What the user is told when a line's encoded secrets would not fit in a line.
inline constexpr const char *kSecretsTooLong =
    "error: command too long once its secrets are encoded; not sent";

// True when line is a password command, alone or after "api", "sys" or "kbox", which
// forward their words: it is not kept in the history.
bool carries_secrets(const char *line);
// Rewrites cbuff (512 bytes) with the secret words of a password command in hex; other
// lines keep their spacing, quotes and escapes. 0 when the line may be sent; -1 when its
// encoded form would not fit (cbuff is then unchanged: a secret is never cut and sent).
int preProcessPasswordCommands(char *cbuff);
// Joins argv[0..argc-1] (argc <= 40) with single blanks into out (512 bytes), the secret
// words of a password command in hex: what "api", "sys" and "kbox" send of their words.
// 0; -1 when the encoded line would not fit (out is then unchanged).
int join_encoding_secrets(char *out, int argc, char **argv);
// Writes each character of sOldString, top bit cleared, as two lower-case hex digits
// into sNewString (room for 2n + 1 bytes); returns sNewString.
char *encode(char *sNewString, const char *sOldString);
