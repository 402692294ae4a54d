#include "api_event_reader.h"

#include <unistd.h>

#include "app_link.h"
#include "helper_thread.h"
#include "libxcom.h"
#include "owned.h"
#include "sender_filter.h"
#include "system_log.h"
#include "terminal_output.h"

namespace {

// What the thread uses; owned by the thread. Made before it starts, so that a lack of
// memory is a thread that could not be started.
struct ReaderContext {
    int fd;
    TerminalOutput &output;
    AppLink &link;
    const SessionLog &log;
    vela::Owned<TrustedLineReader> reader;
    vela::OwnedBytes line;  // XCOM_LINE_BUFFER_SIZE bytes
};

// Hands line over as the awaited result, or collects it for printing.
void deliver_line(ReaderContext &context, const char *line) {
    if (context.link.offer_result(line)) return;
    OutputGuard guard(context.output);
    guard.printf("%s\n", line);
}

void *apiAsyncEventReaderThread(void *args) {
    vela::Owned<ReaderContext> context(static_cast<ReaderContext *>(args));
    TrustedLineReader *reader = context->reader.get();
    char *line = context->line.get();
    BurstFlush flush(context->output);
    for (;;) {
        // A line already queued is taken without waiting: one system call per datagram.
        int len = reader->next_line(line, TrustedLineReader::Wait::kNo);
        if (len == TrustedLineReader::kNothingQueued) {
            flush.before_wait();
            len = reader->next_line(line);
        }
        if (len == 0) continue;  // an empty line
        if (len < 0) break;
        mysyslog(context->log, "OUT:%s\n", line);
        deliver_line(*context, line);
        flush.line_printed();
    }
    flush.before_wait();
    mysyslog(context->log,
             "CRITICAL: XCOM buffer is full without new line, current buffer length: %d",
             reader->held());
    context->link.listener_ended();
    close(context->fd);
    return nullptr;
}

}  // namespace

bool start_api_event_reader(int fd, TerminalOutput &output, AppLink &link, const SessionLog &log) {
    auto reader = vela::make_owned<TrustedLineReader>(fd, log);
    // Not cleared: a page of the buffers costs memory only once a line reaches it.
    auto line = vela::make_bytes(XCOM_LINE_BUFFER_SIZE);
    if (!reader || !line) return false;
    auto context =
        vela::make_owned<ReaderContext>(fd, output, link, log, std::move(reader), std::move(line));
    if (!context) return false;
    if (!start_helper_thread(apiAsyncEventReaderThread, context.get())) return false;
    context.release();  // the thread's now
    return true;
}
