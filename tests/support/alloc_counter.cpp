#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOC_COUNTER_DISABLED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define ALLOC_COUNTER_DISABLED 1
#endif
#endif

namespace {
std::atomic<std::size_t> g_allocations{0};  // lock-free; bumped by every thread
}

namespace test_support {

std::size_t allocation_count() {
    return g_allocations.load(std::memory_order_relaxed);
}

bool alloc_counting_available() {
#ifdef ALLOC_COUNTER_DISABLED
    return false;
#endif
    return true;
}

}  // namespace test_support

#ifndef ALLOC_COUNTER_DISABLED
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void __libc_free(void *);

void *malloc(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(std::size_t n, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}
void *realloc(void *p, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void *memalign(std::size_t alignment, std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void *aligned_alloc(std::size_t alignment, std::size_t size) {
    return memalign(alignment, size);
}
int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
    void *p = memalign(alignment, size);
    if (p == nullptr) return 12;  // ENOMEM
    *out = p;
    return 0;
}
void free(void *p) {
    __libc_free(p);
}
}
#endif
