#include "api_event_reader.h"

#include <unistd.h>

#include <memory>

#include "app_link.h"
#include "helper_thread.h"
#include "libxcom.h"
#include "sender_filter.h"
#include "system_log.h"
#include "terminal_output.h"

namespace {

// What the thread uses; owned by the thread.
struct ReaderContext {
    int fd;
    TerminalOutput &output;
    AppLink &link;
    const SessionLog &log;
};

// Hands line over as the awaited result, or collects it for printing.
void deliver_line(ReaderContext &context, const char *line) {
    if (context.link.offer_result(line)) return;
    OutputGuard guard(context.output);
    guard.printf("%s\n", line);
}

void *apiAsyncEventReaderThread(void *args) {
    std::unique_ptr<ReaderContext> context(static_cast<ReaderContext *>(args));
    auto reader = std::make_unique<TrustedLineReader>(context->fd, context->log);
    // Not cleared: a page of the buffers costs memory only once a line reaches it.
    auto line = std::make_unique_for_overwrite<char[]>(XCOM_LINE_BUFFER_SIZE);
    BurstFlush flush(context->output);
    for (;;) {
        // A line already queued is taken without waiting: one system call per datagram.
        int len = reader->next_line(line.get(), TrustedLineReader::Wait::kNo);
        if (len == TrustedLineReader::kNothingQueued) {
            flush.before_wait();
            len = reader->next_line(line.get());
        }
        if (len == 0) continue;  // an empty line
        if (len < 0) break;
        mysyslog(context->log, "OUT:%s\n", line.get());
        deliver_line(*context, line.get());
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
    auto context = std::make_unique<ReaderContext>(ReaderContext{fd, output, link, log});
    if (!start_helper_thread(apiAsyncEventReaderThread, context.get())) return false;
    context.release();  // the thread's now
    return true;
}
