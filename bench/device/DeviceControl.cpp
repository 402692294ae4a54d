#include <fcntl.h>
#include <termios.h>
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

void require(bool ok, const Terminal &terminal, const std::string &what) {
    if (ok) return;
    const std::string output = terminal.output();
    throw std::runtime_error(what + " (last output: \"" +
                             output.substr(output.size() - std::min<size_t>(output.size(), 400)) +
                             "\")");
}

std::unique_ptr<Terminal> startShell(const Context &ctx, const std::string &type) {
    auto shell = std::make_unique<Terminal>(Terminal::Pty{});
    shell->start({ctx.vela, "-t", type});
    // With the line end "eol False" the editor ignores a LF, which is what an Enter typed
    // while the terminal is still canonical becomes: wait until the editor has the terminal.
    const auto deadline = Clock::now() + 10s;
    for (termios modes{}; ::tcgetattr(shell->fd(), &modes) == 0 && (modes.c_lflag & ICANON);)
        require(Clock::now() < deadline && shell->readSome(Clock::now() + 1ms), *shell,
                "the shell did not take the terminal in time");
    require(shell->type("\r") && shell->waitFor("-> "), *shell, "no prompt");
    return shell;
}

std::unique_ptr<Terminal> startRaw(const Context &ctx, const char *name,
                                   const std::vector<std::string> &arguments) {
    std::vector<std::string> argv = {ctx.program(name)};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto program = std::make_unique<Terminal>(Terminal::Pty{});
    program->start(argv);
    require(program->waitFor("ready", 10s), *program, std::string(name) + " did not start");
    return program;
}

}  // namespace vela::bench
