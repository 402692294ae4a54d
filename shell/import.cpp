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

#include "app_link.h"
#include "cle.h"
#include "session.h"
#include "system_log.h"
#include "unique_fd.h"

namespace {

const char *const IMPORT_DIR = "importdirectory";
const char *const IMPORT_COMPLETE = "importcomplete";
const char *const XML_INDECATOR = "<?xml";
const char *const XML_EXT = "xml";
const char *const CSV_EXT = "csv";
const char *const UNDERSCORE = "_";
const char *const webdata_directory = "/tmp/webdata";
constexpr int IMPORT_LIMIT = 3145728;  // 3 MiB, one LF counted per line
constexpr size_t kPathRoom = 128;
constexpr size_t kCommandRoom = 512;

char extension[5] = "csv";  // chosen from the first stored line; main thread only

bool owned_by_us(const struct stat &st) {
    return st.st_uid == geteuid();
}

// The webdata directory, created when missing; -1 when it is not ours or not a
// directory.
UniqueFd open_webdata_directory() {
    mkdir(webdata_directory, 0755);
    UniqueFd dir(open(webdata_directory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!dir.valid() || fstat(dir.get(), &st) != 0 || !owned_by_us(st)) return UniqueFd();
    return dir;
}

// Opens the import file for writing and reading, emptied, never through a link.
FILE *open_import_file() {
    UniqueFd dir = open_webdata_directory();
    if (!dir.valid()) return nullptr;
    const char *name = strrchr(baseDirFileName, '/') + 1;
    UniqueFd file(openat(dir.get(), name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    struct stat st;
    if (!file.valid() || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || !owned_by_us(st) ||
        ftruncate(file.get(), 0) != 0)
        return nullptr;
    FILE *stream = fdopen(file.get(), "w+");
    if (stream != nullptr) file.release();
    return stream;
}

void print_notice(const char *text) {
    pthread_mutex_lock(&async_stdout_mut);
    shell_io_printf(stdout_shio, "%s", text);
    pthread_mutex_unlock(&async_stdout_mut);
}

// The import file's name with ext; baseDirFileName is short enough that it always fits.
void final_name(char *out, size_t room, const char *ext) {
    if (snprintf(out, room, "%s.%s", baseDirFileName, ext) >= static_cast<int>(room)) out[0] = '\0';
}

int complete_import(char *cmdbuff, const char *importType, FILE **importFile) {
    // A file that lost lines to a full or failing disk is not handed over as if whole.
    bool written = fflush(*importFile) == 0 && ferror(*importFile) == 0;
    written = fclose(*importFile) == 0 && written;
    *importFile = nullptr;
    if (!written) {
        print_notice("ERROR: could not write file.\n");
        return 0;
    }
    char target[kPathRoom];
    final_name(target, sizeof target, extension);
    rename(baseDirFileName, target);
    char command[kCommandRoom];
    snprintf(command, sizeof command, "%s%s %s", UNDERSCORE, importType, target);
    snprintf(cmdbuff, kCommandRoom, "%s", command);
    send_command(cmdbuff);
    return 0;
}

}  // namespace

int isImportCommand(const char *cbuff, char *type) {
    if (strcmp(cbuff, IMPORT_DIR) != 0) return 0;
    strcpy(type, cbuff);
    return 1;
}

int startImporting(const char *cmdbuff, FILE **importFile, int *fileImportSize, int *bufferFull) {
    if (gbPrintToSysLog) mysyslog("%s started \n", cmdbuff);
    *importFile = open_import_file();
    *fileImportSize = 0;
    *bufferFull = 0;
    if (*importFile == nullptr) {
        print_notice("ERROR: could not open file.\n");
        return 0;
    }
    for (const char *ext : {CSV_EXT, XML_EXT}) {
        char old[kPathRoom];
        final_name(old, sizeof old, ext);
        unlink(old);
    }
    print_notice("import started\n");
    return 1;
}

int processImportLine(char *cmdbuff, const char *importType, FILE **importFile, int *fileImportSize,
                      int *bufferFull) {
    if (*fileImportSize == 0)
        snprintf(extension, sizeof extension, "%s",
                 strncmp(cmdbuff, XML_INDECATOR, strlen(XML_INDECATOR)) == 0 ? XML_EXT : CSV_EXT);
    if (strcmp(cmdbuff, IMPORT_COMPLETE) == 0)
        return complete_import(cmdbuff, importType, importFile);
    if (*bufferFull) return 1;
    int len = static_cast<int>(strlen(cmdbuff));
    if (*fileImportSize + len + 1 > IMPORT_LIMIT) {
        *bufferFull = 1;  // this line and every later one are dropped
        return 1;
    }
    fwrite(cmdbuff, 1, static_cast<size_t>(len), *importFile);
    fputc('\n', *importFile);
    *fileImportSize += len + 1;
    return 1;
}

void abortImport(FILE **importFile, int *import_in_progress) {
    if (!*import_in_progress) return;
    *import_in_progress = 0;
    cle_set_import_state(0);
    if (*importFile != nullptr) fclose(*importFile);
    *importFile = nullptr;
}
