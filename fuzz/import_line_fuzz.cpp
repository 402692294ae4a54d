// Directory import, line by line: start, take_line and abort on
// arbitrary pasted lines, some repeated many times so that the 3 MiB limit is reached.
// The stored file always holds exactly the lines taken (each with one LF), nothing is
// cut but by the 3 MiB rule, and "importcomplete" moves it to the name of its type.
// It writes under /tmp/webdata, so it refuses to run anywhere but inside the simulated
// device (build/sim/device --no-zuz --no-syslogd -- <this program> ...).
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "FuzzInput.h"
#include "import.h"
#include "session.h"

constexpr size_t kCmdbuffRoom = 512;
constexpr size_t kImportLimit = 3145728;
static const std::string kPartial = "/tmp/webdata/directory";

static std::string fileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

static bool exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

static Session *g_session;  // the fuzzer's one session (without a link)

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (fileText("/proc/1/comm") != "device-init\n") {
        fprintf(stderr, "import_line_fuzz writes under /tmp: run it inside the simulated device\n");
        exit(2);
    }
    static Session session;
    session.output.create_mutex();
    session.output.create_buffer();
    g_session = &session;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vela::fuzz::FuzzInput input(data, size);
    DirectoryImport import;         // as the command loop keeps it
    std::string stored, extension;  // what the file must hold, and its type
    bool refused = false;           // a line was dropped by the limit
    const auto start = [&] {
        FUZZ_CHECK(import.start(*g_session, "importdirectory") && import.in_progress());
        FUZZ_CHECK(!exists(kPartial + ".csv") && !exists(kPartial + ".xml"));
        stored.clear();
        refused = false;
    };
    start();
    while (!input.empty()) {
        // A count byte, then the line (at most 511 characters, as the editor's).
        const unsigned count = input.byte();
        const std::string line = input.text('\n', kCmdbuffRoom - 1);
        for (unsigned i = 0; i < (count < 0xF0 ? 1 : 1 + (count - 0xEF) * 1024); ++i) {
            if (!import.in_progress()) start();
            auto cmdbuff = vela::fuzz::cString(line, kCmdbuffRoom);
            if (stored.empty()) extension = line.rfind("<?xml", 0) == 0 ? ".xml" : ".csv";
            import.take_line(*g_session, CommandMode::kNormal, cmdbuff.get());
            if (line == "importcomplete") {
                FUZZ_CHECK(!import.in_progress() && !exists(kPartial));
                FUZZ_CHECK(cmdbuff.get() == "_importdirectory " + kPartial + extension);
                FUZZ_CHECK(fileText(kPartial + extension) == stored);
                continue;
            }
            FUZZ_CHECK(import.in_progress());
            refused = refused || stored.size() + line.size() + 1 > kImportLimit;
            if (!refused) stored += line + "\n";
        }
    }
    if (import.in_progress()) {  // an import left open keeps its partial file
        import.abort();
        FUZZ_CHECK(!import.in_progress() && fileText(kPartial) == stored);
    }
    g_session->output.flush_unless_typing();  // the notices, to /dev/null
    return 0;
}
