#include "result_wait.h"

#include <errno.h>
#include <semaphore.h>
#include <time.h>

#include "app_link.h"
#include "session.h"

namespace {

constexpr long kPollNs = 50L * 1000 * 1000;  // how often the wait looks at the link

timespec deadline_after(long ns) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_nsec += ns;
    ts.tv_sec += ts.tv_nsec / 1000000000L;
    ts.tv_nsec %= 1000000000L;
    return ts;
}

}  // namespace

bool wait_for_result_line(int max_wait_ms) {
    long waited_ms = 0;
    for (;;) {
        timespec slice = deadline_after(kPollNs);
        if (sem_timedwait(&sem_result, &slice) == 0) return true;
        if (errno != ETIMEDOUT && errno != EINTR) return false;
        if (stream_has_ended() || api_async_event_fd.load() == -1) return false;
        waited_ms += kPollNs / 1000000;
        if (max_wait_ms >= 0 && waited_ms >= max_wait_ms) return false;
    }
}
