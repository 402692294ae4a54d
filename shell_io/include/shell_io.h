/*
 * Buffered shell output: text collected in memory and written to a terminal
 * descriptor in one go by a flush, optionally with LF turned into CR LF.
 * The object has no locking of its own: the caller serialises every call on one
 * object (the shell holds its output mutex around each print and flush).
 */
#ifndef SHELL_IO_H
#define SHELL_IO_H

#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _ShellIO {
    int add_cr;             /* non-zero: every line end is written as CR LF */
    int fd;                 /* descriptor a flush writes to; -1 while unbound */
    size_t getline_size;    /* capacity of getline_buffer */
    size_t stream_size;     /* bytes collected, as published by the stream's last flush */
    char *getline_buffer;   /* reused scratch buffer of the flush */
    char *stream_buffer;    /* the collected text, maintained by the stream */
    pthread_mutex_t io_mut; /* carried for callers; no operation here takes it */
    FILE *stream;           /* in-memory stream over stream_buffer/stream_size */
} ShellIOT;

/* A new unbound object without CR insertion; the caller owns it (shell_io_destroy).
 * Null when memory or the stream cannot be had. */
ShellIOT *shell_io_create(void);
/* Binds the descriptor flushes write to. -3 for a null object or fd < 1, else 0. */
int shell_io_bind_fd(ShellIOT *shio, int fd);
/* Switches CR insertion on for good. -3 for a null object, else 0. */
int shell_io_add_cr(ShellIOT *shio);
/* Collects formatted text; nothing reaches the descriptor until a flush.
 * The number of characters written, or a negative value (-1 for a null object). */
int shell_io_printf(ShellIOT *shio, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int shell_io_vprintf(ShellIOT *shio, const char *fmt, va_list args)
    __attribute__((format(printf, 2, 0)));
/* Writes out the collected text and empties the collection (kept while unbound).
 * 0, or -1 when the stream cannot be flushed. */
int shell_io_flush(ShellIOT *shio);
/* Publishes the collected text (owned by the object, valid until the next print),
 * its size and the descriptor; each pointer may be null. 0, -3 or -1. */
int shell_io_get_attributes(ShellIOT *shio, char **pStr, int *pSize, int *pFd);
/* Closes the stream and releases the buffers and the object itself. -3 or 0. */
int shell_io_destroy(ShellIOT *shio);
/* Sleeps ticks * 10 milliseconds. */
void shellSleep(unsigned int ticks);

#ifdef __cplusplus
}
#endif

#endif /* SHELL_IO_H */
