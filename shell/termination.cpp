#include "termination.h"

#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "command_loop.h"
#include "session.h"
#include "system_log.h"

namespace {

// Written before the thread starts, read by it only.
struct termios modes_at_start;
bool modes_saved = false;

sigset_t termination_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);  // Ctrl-C while the terminal is not yet in the editor's modes
    sigaddset(&set, SIGTERM);
    return set;
}

void restore_modes() {
    if (modes_saved) tcsetattr(0, TCSANOW, &modes_at_start);
}

// Ends the process by signal, as if it had not been caught.
[[noreturn]] void die_by(int signal) {
    ::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);  // not reached
}

void *termination_thread(void *) {
    sigset_t set = termination_signals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    // Nothing below may keep the process from ending: SIGALRM ends it regardless.
    alarm(kFarewellSeconds);
    restore_modes();  // first, in case a stalled application holds up what follows
    send_farewell();
    if (gbPrintToSysLog) mysyslog("End of session");
    restore_modes();  // again, in case the main thread changed them meanwhile
    die_by(signal);
}

}  // namespace

void start_termination_thread() {
    modes_saved = tcgetattr(0, &modes_at_start) == 0;
    sigset_t set = termination_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, termination_thread, nullptr) == 0)
        pthread_detach(thread);
    else
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // the signals keep their default end
}
