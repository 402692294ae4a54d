// The login program of one telnet daemon: busybox telnetd runs it without arguments
// on the session's terminal, and it becomes the shell with the options of its port.
// The shell's first command-line word names it a telnet session, which the session
// limit counts; the environment is reset because a telnet client may set variables.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DevicePaths.h"
#include "TelnetPaths.h"

#ifndef TELNETD_LOGIN_TYPE
#error "TELNETD_LOGIN_TYPE: the shell's session type, or empty for its default"
#endif

int main() {
    const char *term = std::getenv("TERM");
    std::string termVar = std::string("TERM=") + (term != nullptr ? term : "vt100");
    std::string pathVar = std::string("PATH=") + sim::paths::kDeviceSearchPath;
    char *env[] = {termVar.data(), pathVar.data(), nullptr};

    std::string vela = std::string(sim::paths::kBinDir) + "/vela";
    std::string argv0 = sim::telnet::kSessionArgv0;
    std::string typeOption = "-t";
    std::string type = TELNETD_LOGIN_TYPE;
    char *argv[] = {argv0.data(), type.empty() ? nullptr : typeOption.data(), type.data(), nullptr};
    ::execve(vela.c_str(), argv, env);
    std::fprintf(stderr, "telnetd-login: cannot run %s: %s\r\n", vela.c_str(),
                 std::strerror(errno));
    return 127;
}
