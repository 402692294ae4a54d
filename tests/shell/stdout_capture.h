// Captures what the process writes to standard output while it is alive.
#pragma once

#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

class StdoutCapture {
  public:
    StdoutCapture() {
        fflush(stdout);
        saved_ = dup(1);
        file_ = memfd_create("stdout_capture", 0);
        dup2(file_, 1);
    }
    ~StdoutCapture() {
        restore();
        close(file_);
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Everything written so far.
    std::string text() {
        fflush(stdout);
        std::string out;
        char buf[4096];
        ssize_t n;
        off_t offset = 0;
        while ((n = pread(file_, buf, sizeof buf, offset)) > 0) {
            out.append(buf, static_cast<size_t>(n));
            offset += n;
        }
        return out;
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    int file_ = -1;
};
