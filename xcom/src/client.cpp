// The client connection: connect, the reader thread, serialised sends, disconnect.
#include "client.h"

#include <sys/socket.h>

#include <cstring>

#include "line_reader.h"
#include "socket_io.h"
#include "tcp_connect.h"

namespace xcom {
namespace {

// The record whose reader runs on this thread; each thread has its own.
thread_local const _xcom_client *tls_reading_client = nullptr;

}  // namespace

_xcom_client::_xcom_client(Key, vela::UniqueFd socket, vela::Owned<ReaderBuffers> buffers,
                           XCOMCallBackT callback) noexcept
    : socket_(std::move(socket)), callback_(callback), buffers_(std::move(buffers)) {
    buffers_->buffer[0] = '\0';
    buffers_->buflen = 0;
}

vela::Owned<_xcom_client> _xcom_client::connect(const char *server, int port,
                                                XCOMCallBackT callback, int wait_seconds) noexcept {
    if (callback == nullptr) return nullptr;
    vela::UniqueFd socket = tcp_connect(server, port, wait_seconds);
    if (!socket.valid()) return nullptr;
    // Buffers come with the record, so a lack of memory fails here and not in the reader.
    auto buffers = vela::make_owned_for_overwrite<ReaderBuffers>();
    if (!buffers) return nullptr;
    auto client =
        vela::make_owned<_xcom_client>(Key(), std::move(socket), std::move(buffers), callback);
    if (!client || !client->reader_thread_.start(run_reader, client.get())) return nullptr;
    return client;
}

_xcom_client::~_xcom_client() {
    stopping_.store(true);
    // Wakes a reader blocked in its wait; the descriptor stays valid until it has ended.
    ::shutdown(socket_.get(), SHUT_RDWR);
    reader_thread_.join();
}

int _xcom_client::send(const char *command) noexcept {
    char message[kMaxCommand + 2];
    const std::size_t length = strnlen(command, kMaxCommand);
    std::memcpy(message, command, length);
    message[length] = '\n';
    message[length + 1] = '\0';
    const vela::MutexLock lock(write_mut_);
    return write_line(socket_.get(), message, kWaitSeconds) == 0 ? 0 : -1;
}

bool _xcom_client::on_reader_thread() const noexcept {
    return tls_reading_client == this;
}

void *_xcom_client::run_reader(void *client) noexcept {
    static_cast<_xcom_client *>(client)->client_reader();
    return nullptr;
}

void _xcom_client::client_reader() noexcept {
    tls_reading_client = this;
    ReaderBuffers &own = *buffers_;
    while (!stopping_.load()) {
        HeldBytes held(own.buffer, &own.buflen);
        if (read_line(socket_.get(), held, own.line, 0) <= 0) break;
        if (stopping_.load()) break;
        deliver(own.line);
    }
    deliver(nullptr);
}

void _xcom_client::deliver(char *msg) noexcept {
    (void)callback_(this, msg);  // the callback's result is ignored
}

}  // namespace xcom

extern "C" {

HXCOM xcom_client_connect(const char *server, int port_number, XCOMCallBackT callback) noexcept {
    return xcom::_xcom_client::connect(server, port_number, callback, xcom::kWaitSeconds).release();
}

int xcom_client_send(HXCOM h_client, const char *command) noexcept {
    if (h_client == nullptr || command == nullptr) return -1;
    return static_cast<xcom::_xcom_client *>(h_client)->send(command);
}

int xcom_client_disconnect(HXCOM h_client) noexcept {
    auto *client = static_cast<xcom::_xcom_client *>(h_client);
    if (client == nullptr || client->on_reader_thread()) return -1;
    vela::Owned<xcom::_xcom_client>{client}.reset();
    return 0;
}

}  // extern "C"
