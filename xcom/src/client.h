// The client record behind an HXCOM handle.
#pragma once

#include <atomic>

#include "libxcom.h"
#include "owned.h"
#include "posix_threads.h"
#include "unique_fd.h"
#include "xcom.h"

namespace xcom {

// One connection: its socket, the reader thread that delivers lines to the callback,
// and the lock of its senders. Destroying it stops and joins the reader, then closes.
class _xcom_client {
    struct Key {
        explicit Key() = default;
    };

    struct ReaderBuffers {
        char buffer[XCOM_READ_BUFFER_SIZE];
        char line[XCOM_LINE_BUFFER_SIZE];
        int buflen;
    };

  public:
    // Connects within wait_seconds and starts the reader; the caller owns the result,
    // which is null on any failure. Any thread.
    static vela::Owned<_xcom_client> connect(const char *server, int port, XCOMCallBackT callback,
                                             int wait_seconds) noexcept;
    _xcom_client(Key, vela::UniqueFd socket, vela::Owned<ReaderBuffers> buffers,
                 XCOMCallBackT callback) noexcept;
    _xcom_client(const _xcom_client &) = delete;
    _xcom_client &operator=(const _xcom_client &) = delete;
    ~_xcom_client();

    // Sends command, cut to kMaxCommand bytes, and one LF in one write. Any thread.
    int send(const char *command) noexcept;
    // True on this connection's reader thread, where the record must not be destroyed.
    bool on_reader_thread() const noexcept;

    static constexpr std::size_t kMaxCommand = 1024;

  private:
    static void *run_reader(void *client) noexcept;
    void client_reader() noexcept;
    void deliver(char *msg) noexcept;

    // Set before the reader starts, closed after it ended: read by all without a lock.
    vela::UniqueFd socket_;
    // Set at construction, never changed.
    const XCOMCallBackT callback_;
    // Used only by the reader thread once it has started.
    vela::Owned<ReaderBuffers> buffers_;
    // Serialises the writers of socket_.
    vela::Mutex write_mut_;
    // Set by the destructor to stop delivery; atomic.
    std::atomic<bool> stopping_{false};
    // Started by connect, joined by the destructor; not touched in between.
    vela::JoinedThread reader_thread_;
};

}  // namespace xcom
