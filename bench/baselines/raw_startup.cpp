// raw_startup: raw baseline of a telnet session's start-up. Reads the same settings
// through the configuration tool, binds its listener socket, registers with the
// application and prints the text the application sends to the listener, sends the two
// settings writes of the login record, then switches the terminal to the editor's modes
// and prints the prompt "-> " once Enter has been typed. Runs until it is killed.
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "RawLink.h"

using namespace vela::bench::raw;

namespace {

int listener = -1;  // the API listener socket, -1 once its one line has been printed

// Prints what arrived on the listener (the application's notice of the registration).
void printNotice() {
    char text[16385];
    ssize_t n = recv(listener, text, sizeof text, 0);
    if (n > 0) writeAll(1, text, static_cast<size_t>(n));
}

// Waits until fd is readable, printing a notice that arrives meanwhile.
bool waitReadable(int fd, LineReader *reader) {
    for (;;) {
        if (reader != nullptr && reader->holdsLine()) return true;
        pollfd fds[2] = {{fd, POLLIN, 0}, {listener, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents & POLLIN) printNotice();
        if (fds[0].revents) return true;
    }
}

int awaitReply(int app, LineReader &reader) {
    for (;;) {
        if (!waitReadable(app, &reader)) return kNoReply;
        const char *line = reader.next();
        if (line == nullptr) return kNoReply;
        if (line[0] == 'R' && strlen(line) > 3) return atoi(line + 3);
    }
}

}  // namespace

int main() {
    char tty[80];
    if (ttyname_r(1, tty, sizeof tty) != 0) return 1;
    const char *slash = strrchr(tty, '/');
    char path[128];
    snprintf(path, sizeof path, "/tmp/apiasynclisteners/vela%s", slash ? slash + 1 : tty);

    static const char *const kSettings[] = {"eol", "enablesecureprofile", "sw", "adminuserid",
                                            "securitybanner"};
    static char values[5][2048];
    for (size_t i = 0; i < 5; ++i)
        if (!readSetting(kSettings[i], values[i], sizeof values[i])) return 1;

    listener = bindDatagram(path);
    int app = connectApplication();
    if (listener < 0 || app < 0) return 1;
    LineReader reader(app);
    char message[600];
    snprintf(message, sizeof message, "R: telnet %s %s\n", path, tty);
    if (!sendText(app, message) || awaitReply(app, reader) != 0) return 1;
    static const char *const kWrites[] = {
        "E: execwithoutecho systemsetting telnet_client_23 \n",
        "E: execwithoutecho systemsetting telnet_client_23_success True\n"};
    for (const char *write : kWrites)
        if (!sendText(app, write) || awaitReply(app, reader) == kNoReply) return 1;

    makeRaw(0);
    char c;
    if (!waitReadable(0, nullptr) || read(0, &c, 1) != 1) return 1;
    writeText(1, "-> ");
    for (;;) {  // only a late notice may still come
        pollfd fd{listener, POLLIN, 0};
        if (poll(&fd, 1, -1) > 0) printNotice();
    }
}
