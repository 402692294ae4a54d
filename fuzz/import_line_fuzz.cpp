// Directory import, line by line: start, take_line and abort on
// arbitrary pasted lines, some repeated many times so that the 3 MiB limit is reached.
// The stored file always holds exactly the lines taken (each with one LF), nothing is
// cut but by the 3 MiB rule, and "importcomplete" moves it to the name of its type.
// It writes under /tmp/webdata, so it refuses to run anywhere but inside the simulated
// device (build/sim/device --no-zuz --no-syslogd -- <this program> ...).
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "FuzzInput.h"
#include "import.h"
#include "session.h"

using vela::fuzz::FuzzInput;

namespace {

constexpr size_t kCmdbuffRoom = 512;
constexpr size_t kImportLimit = 3145728;
const std::string kPartial = "/tmp/webdata/directory";

bool insideTheDevice() {
    std::ifstream comm("/proc/1/comm");
    std::string name;
    return std::getline(comm, name) && name == "device-init";
}

std::string fileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

Session *g_session;  // the fuzzer's one session (without a link)

// The import as the command loop keeps it, and what the file must hold.
struct Import {
    DirectoryImport import;
    std::string stored;
    std::string extension = "csv";
    bool refused = false;  // a line was dropped by the limit

    void start() {
        FUZZ_CHECK(import.start(*g_session, "importdirectory") && import.in_progress());
        stored.clear();
        refused = false;
        FUZZ_CHECK(!exists(kPartial + ".csv") && !exists(kPartial + ".xml"));
    }

    void take(const std::string &line) {
        auto cmdbuff = std::make_unique<char[]>(kCmdbuffRoom);
        memcpy(cmdbuff.get(), line.c_str(), line.size() + 1);
        if (stored.empty()) extension = line.rfind("<?xml", 0) == 0 ? "xml" : "csv";
        import.take_line(*g_session, CommandMode::kNormal, cmdbuff.get());
        if (line == "importcomplete") {
            FUZZ_CHECK(!import.in_progress());
            FUZZ_CHECK(strcmp(cmdbuff.get(),
                              ("_importdirectory " + kPartial + "." + extension).c_str()) == 0);
            FUZZ_CHECK(!exists(kPartial));
            FUZZ_CHECK(fileText(kPartial + "." + extension) == stored);
            return;
        }
        FUZZ_CHECK(import.in_progress());
        if (!refused && stored.size() + line.size() + 1 <= kImportLimit)
            stored += line + "\n";
        else
            refused = true;
    }

    void abort() {
        import.abort();
        FUZZ_CHECK(!import.in_progress());
        FUZZ_CHECK(fileText(kPartial) == stored);
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (!insideTheDevice()) {
        fprintf(stderr, "import_line_fuzz writes under /tmp: run it inside the simulated device\n");
        exit(2);
    }
    vela::fuzz::silenceStdout();
    static Session session;
    session.output.create_mutex();
    session.output.create_buffer();
    g_session = &session;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput input(data, size);
    Import import;
    import.start();
    while (!input.empty()) {
        // A count byte, then the line (at most 511 characters, as the editor's).
        unsigned count = input.byte();
        const std::string line = input.text('\n', kCmdbuffRoom - 1);
        unsigned times = count < 0xF0 ? 1 : 1 + (count - 0xEF) * 1024;
        for (unsigned i = 0; i < times; ++i) {
            if (!import.import.in_progress()) import.start();
            import.take(line);
        }
    }
    if (import.import.in_progress()) import.abort();
    g_session->output.flush_unless_typing();  // the notices, to /dev/null
    return 0;
}
