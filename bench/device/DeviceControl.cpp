#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "Driver.h"
#include "RawLink.h"

namespace vela::bench {
namespace {

constexpr const char *kRulesPath = "/opt/sim/zuz-rules";

}  // namespace

void writeZuzRules() {
    const std::string rules = std::string("prefix \"E: bench-cmd\" => reply 0\n") +
                              "prefix \"C: bench-cmd\" => reply 0\n" +
                              "prefix \"R: \" => run; datagram \"" + kRegisteredNotice + "\\n\"\n";
    // zuz rereads the file when it changes: replace it whole.
    const std::string temp = std::string(kRulesPath) + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || !raw::writeAll(fd, rules.data(), rules.size()) || ::close(fd) != 0 ||
        ::rename(temp.c_str(), kRulesPath) != 0)
        throw std::runtime_error(std::string("cannot write zuz's rules: ") + std::strerror(errno));
}

void setDeviceSetting(const std::string &name, const std::string &value) {
    int app = raw::connectApplication();
    if (app < 0) throw std::runtime_error("the application does not answer");
    raw::LineReader reader(app);
    const std::string message = "E: execwithoutecho systemsetting " + name + " " + value + "\n";
    int code = raw::exchange(app, reader, message.c_str());
    ::close(app);
    if (code != 0) throw std::runtime_error("the application did not store the setting " + name);
}

std::unique_ptr<PtyProgram> startShell(const Context &ctx, const std::string &type) {
    auto shell = std::make_unique<PtyProgram>(std::vector<std::string>{ctx.vela, "-t", type});
    // With the line end "eol False" the editor ignores a LF, which is what an Enter typed
    // while the terminal is still canonical becomes.
    shell->waitNonCanonical();
    shell->typeShort("\r");
    shell->waitFor("-> ");
    return shell;
}

std::unique_ptr<PtyProgram> startRaw(const Context &ctx, const char *name,
                                     const std::vector<std::string> &arguments) {
    std::vector<std::string> argv = {ctx.program(name)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto program = std::make_unique<PtyProgram>(argv);
    program->waitFor("ready");
    return program;
}

}  // namespace vela::bench
