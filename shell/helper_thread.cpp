#include "helper_thread.h"

#include <pthread.h>

#include <cstddef>

namespace {

// The helpers keep their buffers on the heap; their deepest calls (syslog, stdio,
// poll) need a few KiB. The sanitizers' instrumentation needs far more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kStackSize = 1024 * 1024;
#else
constexpr std::size_t kStackSize = 128 * 1024;
#endif

}  // namespace

bool start_helper_thread(void *(*body)(void *), void *arg) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, kStackSize);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    bool started = pthread_create(&thread, &attributes, body, arg) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}
