// Buffered shell output over an in-memory stream.
//
// Text is collected with stdio into an open_memstream buffer that is rewound after
// every flush, so the buffer only grows to the largest burst and is then reused.
// A flush writes the collected text to the bound descriptor in as few write calls as
// possible: as it stands, or converted to CR LF line ends in a reused scratch buffer.
// Once both buffers have reached their working size, printing and flushing allocate
// nothing.

#include "shell_io.h"

#include <errno.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace {

// Writes all of data to the object's descriptor, restarting after EINTR.
// The full length on success, 0 when write returned 0, -1 on failure or no descriptor.
ssize_t safe_write(const ShellIOT &shio, const char *data, size_t len) {
    if (shio.fd == -1) return -1;
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(shio.fd, data + done, len - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return 0;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(len);
}

// Makes sure the scratch buffer holds at least size bytes; false when memory is short.
bool reserve_scratch(ShellIOT &shio, size_t size) {
    if (shio.getline_size >= size) return true;
    char *grown = static_cast<char *>(realloc(shio.getline_buffer, size));
    if (grown == nullptr) return false;
    shio.getline_buffer = grown;
    shio.getline_size = size;
    return true;
}

// Writes text with every line end (and a final unterminated line) as CR LF.
void write_with_cr(ShellIOT &shio, const char *text, size_t len) {
    // Worst case every byte is a LF, plus the CR LF of an unterminated last line.
    if (reserve_scratch(shio, 2 * len + 2)) {
        char *out = shio.getline_buffer;
        size_t n = 0;
        for (size_t i = 0; i < len; ++i) {
            if (text[i] == '\n') out[n++] = '\r';
            out[n++] = text[i];
        }
        if (text[len - 1] != '\n') {
            out[n++] = '\r';
            out[n++] = '\n';
        }
        safe_write(shio, out, n);
        return;
    }
    // No memory for the scratch buffer: the same bytes, one line at a time.
    size_t start = 0;
    while (start < len) {
        const char *lf = static_cast<const char *>(memchr(text + start, '\n', len - start));
        size_t end = lf ? static_cast<size_t>(lf - text) : len;
        safe_write(shio, text + start, end - start);
        safe_write(shio, "\r\n", 2);
        start = end + 1;
    }
}

void rewind_collection(ShellIOT &shio) {
    fseek(shio.stream, 0, SEEK_SET);
}

int flush_stream_retrying(ShellIOT &shio) {
    int rc;
    do {
        rc = fflush(shio.stream);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : -1;
}

int internal_flush(ShellIOT &shio) {
    if (fflush(shio.stream) != 0) return -1;
    if (shio.fd == -1) return 0;  // keep the text until a descriptor is bound
    if (shio.stream_size > 0) {
        if (shio.add_cr)
            write_with_cr(shio, shio.stream_buffer, shio.stream_size);
        else
            safe_write(shio, shio.stream_buffer, shio.stream_size);
    }
    rewind_collection(shio);
    return 0;
}

struct ShellIOFree {
    void operator()(ShellIOT *shio) const { free(shio); }
};

}  // namespace

extern "C" {

ShellIOT *shell_io_create(void) {
    std::unique_ptr<ShellIOT, ShellIOFree> shio(
        static_cast<ShellIOT *>(calloc(1, sizeof(ShellIOT))));
    if (!shio) return nullptr;
    shio->fd = -1;
    shio->stream = open_memstream(&shio->stream_buffer, &shio->stream_size);
    if (shio->stream == nullptr) return nullptr;
    pthread_mutex_init(&shio->io_mut, nullptr);
    return shio.release();
}

int shell_io_bind_fd(ShellIOT *shio, int fd) {
    if (shio == nullptr || fd < 1) return -3;
    shio->fd = fd;
    return 0;
}

int shell_io_add_cr(ShellIOT *shio) {
    if (shio == nullptr) return -3;
    shio->add_cr = 1;
    return 0;
}

int shell_io_vprintf(ShellIOT *shio, const char *fmt, va_list args) {
    if (shio == nullptr || shio->stream == nullptr) return -1;
    int rc;
    do {
        va_list copy;
        va_copy(copy, args);
        rc = vfprintf(shio->stream, fmt, copy);
        va_end(copy);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

int shell_io_printf(ShellIOT *shio, const char *fmt, ...) {
    if (shio == nullptr || shio->stream == nullptr) return -1;
    va_list args;
    va_start(args, fmt);
    int rc = shell_io_vprintf(shio, fmt, args);
    va_end(args);
    return rc;
}

int shell_io_flush(ShellIOT *shio) {
    if (shio == nullptr || shio->stream == nullptr) return 0;
    return internal_flush(*shio);
}

int shell_io_get_attributes(ShellIOT *shio, char **pStr, int *pSize, int *pFd) {
    if (shio == nullptr) return -3;
    if (shio->stream == nullptr) return 0;
    if (flush_stream_retrying(*shio) != 0) return -1;
    if (pStr) *pStr = shio->stream_buffer;
    if (pSize) *pSize = static_cast<int>(shio->stream_size);
    if (pFd) *pFd = shio->fd;
    return 0;
}

int shell_io_destroy(ShellIOT *shio) {
    if (shio == nullptr) return -3;
    if (shio->stream) fclose(shio->stream);  // publishes stream_buffer one last time
    free(shio->stream_buffer);
    free(shio->getline_buffer);
    pthread_mutex_destroy(&shio->io_mut);
    free(shio);
    return 0;
}

void shellSleep(unsigned int ticks) {
    struct timeval timeout;
    timeout.tv_sec = ticks / 100;
    timeout.tv_usec = (ticks % 100) * 10000;
    select(0, nullptr, nullptr, nullptr, &timeout);
}

}  // extern "C"
