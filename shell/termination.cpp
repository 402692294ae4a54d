#include "termination.h"

#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "helper_thread.h"
#include "owned.h"
#include "session.h"
#include "session_end.h"

namespace {

// What the thread uses; owned by the thread.
struct TerminationContext {
    Session &session;
    struct termios modes_at_start;
    bool modes_saved;
};

sigset_t termination_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);  // Ctrl-C while the terminal is not yet in the editor's modes
    sigaddset(&set, SIGTERM);
    return set;
}

void restore_modes(const TerminationContext &context) {
    if (context.modes_saved) tcsetattr(0, TCSANOW, &context.modes_at_start);
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

void *termination_thread(void *args) {
    vela::Owned<TerminationContext> context(static_cast<TerminationContext *>(args));
    sigset_t set = termination_signals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    // Nothing below may keep the process from ending: SIGALRM ends it regardless.
    alarm(kFarewellSeconds);
    restore_modes(*context);  // first, in case a stalled application holds up what follows
    send_farewell(context->session);
    mysyslog(context->session.log, "End of session");
    restore_modes(*context);  // again, in case the main thread changed them meanwhile
    die_by(signal);
}

}  // namespace

void start_termination_thread(Session &session) {
    auto context = vela::make_owned<TerminationContext>(session, termios{}, false);
    if (!context) return;  // no memory: the signals keep their default end
    context->modes_saved = tcgetattr(0, &context->modes_at_start) == 0;
    sigset_t set = termination_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (start_helper_thread(termination_thread, context.get())) {
        context.release();  // the thread's now
    } else {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // the signals keep their default end
    }
}
