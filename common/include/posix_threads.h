// Owners of a POSIX mutex and of a joined thread for the code that ships: std::mutex and
// std::thread report failures by throwing, which links the C++ runtime's exception
// machinery into the program.
#pragma once

#include <pthread.h>

namespace vela {

// A default mutex; locked with a MutexLock.
class Mutex {
  public:
    Mutex() noexcept = default;
    ~Mutex() { pthread_mutex_destroy(&mutex_); }
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;

    // A default mutex fails only when misused, so the results are not checked.
    void lock() noexcept { pthread_mutex_lock(&mutex_); }
    void unlock() noexcept { pthread_mutex_unlock(&mutex_); }

  private:
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

// Holds a mutex for one scope.
class MutexLock {
  public:
    explicit MutexLock(Mutex &mutex) noexcept : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() { mutex_.unlock(); }
    MutexLock(const MutexLock &) = delete;
    MutexLock &operator=(const MutexLock &) = delete;

  private:
    Mutex &mutex_;
};

// A thread that its owner joins, at the latest when the owner goes.
class JoinedThread {
  public:
    JoinedThread() noexcept = default;
    ~JoinedThread() { join(); }
    JoinedThread(const JoinedThread &) = delete;
    JoinedThread &operator=(const JoinedThread &) = delete;

    // Runs body(arg) on a new thread; false when none could be started.
    bool start(void *(*body)(void *), void *arg) noexcept {
        started_ = pthread_create(&thread_, nullptr, body, arg) == 0;
        return started_;
    }
    // Waits for the thread to end, if one was started and not yet joined.
    void join() noexcept {
        if (started_) pthread_join(thread_, nullptr);
        started_ = false;
    }

  private:
    pthread_t thread_{};
    bool started_ = false;
};

}  // namespace vela
