// Directory import: pasted lines are stored under /tmp/webdata and handed to the
// application on "importcomplete".
//
// /tmp is writable by everyone, so the directory and the file are opened without
// following symbolic links and only when they belong to this process's user: a planted
// link or file cannot make the shell write anywhere else.

#include "import.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>

#include "device_paths.h"
#include "session.h"
#include "unique_fd.h"

namespace {

const char *const IMPORT_DIR = "importdirectory";
const char *const IMPORT_COMPLETE = "importcomplete";
const char *const XML_INDECATOR = "<?xml";
const char *const XML_EXT = "xml";
const char *const CSV_EXT = "csv";
const char *const UNDERSCORE = "_";
constexpr int IMPORT_LIMIT = 3145728;  // 3 MiB, one LF counted per line
constexpr size_t kPathRoom = 128;
constexpr size_t kCommandRoom = 512;
constexpr size_t kImportBufferSize = 64 * 1024;

bool owned_by_us(const struct stat &st) {
    return st.st_uid == geteuid();
}

// The import directory, created when missing; invalid when it is not ours or not a
// directory.
vela::UniqueFd open_import_directory(const char *directory) {
    mkdir(directory, 0755);
    vela::UniqueFd dir(open(directory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!dir.valid() || fstat(dir.get(), &st) != 0 || !owned_by_us(st)) return vela::UniqueFd();
    return dir;
}

// Opens the import file for writing and reading, emptied, never through a link.
FILE *open_import_file(const char *directory) {
    vela::UniqueFd dir = open_import_directory(directory);
    if (!dir.valid()) return nullptr;
    vela::UniqueFd file(
        openat(dir.get(), paths::kImportFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    struct stat st;
    if (!file.valid() || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || !owned_by_us(st) ||
        ftruncate(file.get(), 0) != 0)
        return nullptr;
    FILE *stream = fdopen(file.get(), "w+");
    if (stream == nullptr) return nullptr;
    file.release();
    // A paste arrives in megabytes: a few large writes cost less than many page-sized ones.
    setvbuf(stream, nullptr, _IOFBF, kImportBufferSize);
    return stream;
}

void print_notice(TerminalOutput &output, const char *text) {
    OutputGuard guard(output);
    guard.printf("%s", text);
}

// The import file's path in directory, with ext when it is not null.
void file_path(char *out, size_t room, const char *directory, const char *ext) {
    snprintf(out, room, "%s/%s%s%s", directory, paths::kImportFileName, ext != nullptr ? "." : "",
             ext != nullptr ? ext : "");
}

}  // namespace

bool DirectoryImport::is_import_command(const char *line) {
    return strcmp(line, IMPORT_DIR) == 0;
}

bool DirectoryImport::start(Session &session, const char *line) {
    mysyslog(session.log, "%s started \n", line);
    file_ = open_import_file(directory_);
    size_ = 0;
    full_ = false;
    if (file_ == nullptr) {
        print_notice(session.output, "ERROR: could not open file.\n");
        return in_progress_ = false;
    }
    for (const char *ext : {CSV_EXT, XML_EXT}) {
        char old[kPathRoom];
        file_path(old, sizeof old, directory_, ext);
        unlink(old);
    }
    print_notice(session.output, "import started\n");
    return in_progress_ = true;
}

void DirectoryImport::take_line(Session &session, CommandMode mode, char *line) {
    if (size_ == 0)
        snprintf(extension_, sizeof extension_, "%s",
                 strncmp(line, XML_INDECATOR, strlen(XML_INDECATOR)) == 0 ? XML_EXT : CSV_EXT);
    if (strcmp(line, IMPORT_COMPLETE) == 0) {
        complete(session, mode, line);
        return;
    }
    if (full_) return;
    int len = static_cast<int>(strlen(line));
    if (size_ + len + 1 > IMPORT_LIMIT) {
        full_ = true;  // this line and every later one are dropped
        return;
    }
    fwrite(line, 1, static_cast<size_t>(len), file_);
    fputc('\n', file_);
    size_ += len + 1;
}

void DirectoryImport::complete(Session &session, CommandMode mode, char *line) {
    in_progress_ = false;
    // A file that lost lines to a full or failing disk is not handed over as if whole.
    bool written = fflush(file_) == 0 && ferror(file_) == 0;
    written = fclose(file_) == 0 && written;
    file_ = nullptr;
    if (!written) {
        print_notice(session.output, "ERROR: could not write file.\n");
        return;
    }
    char stored[kPathRoom], target[kPathRoom];
    file_path(stored, sizeof stored, directory_, nullptr);
    file_path(target, sizeof target, directory_, extension_);
    rename(stored, target);
    snprintf(line, kCommandRoom, "%s%s %s", UNDERSCORE, IMPORT_DIR, target);
    session.link.send_command(line, mode);
}

void DirectoryImport::abort() {
    if (!in_progress_) return;
    in_progress_ = false;
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
}
