// How the shell's process ends: the statuses main returns (the parent sees each modulo
// 256). Only main ends the process.
#pragma once

enum ExitStatus : int {
    kExitOk = 0,                // "--help", the end of a session or of the log viewer
    kExitRefused = 1,           // no ready marker, an option error, an unreadable setting
    kExitFailed = -1,           // no terminal name, the reply semaphore, registration, login
    kExitOutputMutex = -2,      // the output mutex cannot be created
    kExitOutputObject = -3,     // the buffered output cannot be created
    kExitReadySemaphore = -11,  // the command loop's semaphore cannot be created
    kExitEditor = -111,         // the line editor cannot take the terminal
};
