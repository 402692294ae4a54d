// Directory import: the lines pasted after "importdirectory" are stored in a file that
// the application is then told about. Main thread.
#pragma once

#include <stdio.h>

#include "device_paths.h"
#include "session_config.h"

struct Session;

class DirectoryImport {
  public:
    // directory: where the file is stored; only tests choose another.
    explicit DirectoryImport(const char *directory = paths::kImportDirectory)
        : directory_(directory) {}
    DirectoryImport(const DirectoryImport &) = delete;
    DirectoryImport &operator=(const DirectoryImport &) = delete;
    ~DirectoryImport() { abort(); }

    // True when line is exactly "importdirectory".
    static bool is_import_command(const char *line);
    bool in_progress() const { return in_progress_; }

    // Opens the import file for the command line; true when the import runs (else
    // after a message).
    bool start(Session &session, const char *line);
    // Stores one line, or completes the import on "importcomplete" and hands the file to
    // the application (framed for mode, with line as the buffer of the message).
    void take_line(Session &session, CommandMode mode, char *line);
    // Ends an import in progress without completing it; the partial file stays.
    void abort();

  private:
    void complete(Session &session, CommandMode mode, char *line);

    const char *const directory_;
    FILE *file_ = nullptr;
    int size_ = 0;       // bytes stored, one LF counted per line
    bool full_ = false;  // the limit was reached: later lines are dropped
    bool in_progress_ = false;
    char extension_[5] = "csv";  // chosen from the first stored line
};
