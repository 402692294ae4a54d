#include "ShellOnDevice.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace vela::test {

DeviceOptions shellWith(std::vector<std::string> args, Settings settings, const char *binary) {
    DeviceOptions options;
    options.velaBinary = binary != nullptr ? binary : VELA_BINARY;
    options.command = {kDeviceVela};
    options.command.insert(options.command.end(), args.begin(), args.end());
    options.settings = std::move(settings);
    return options;
}

DeviceOptions keptUp(DeviceOptions options, std::string zuzRules) {
    options.command.insert(options.command.begin(),
                           {"sh", "-c", "\"$0\" \"$@\"; echo \"[status $?]\"; exec sleep 30"});
    options.zuzRules = std::move(zuzRules);
    return options;
}

Settings secureProfile(const std::string &password, const std::string &idle) {
    return {{"enablesecureprofile", "DoD DSN"}, {"sw", password}, {"idletimeoutapi", idle}};
}

int endStatus(DeviceSession &device, bool unregisters, std::chrono::milliseconds timeout) {
    if (!device.waitFor("[status ", timeout) || !device.waitFor("]") ||
        (unregisters && !device.waitForZuzLine("U")))
        return -1;
    const std::string screen = device.output();
    return std::atoi(screen.c_str() + screen.rfind("[status ") + 8);
}

long loopsReady(const DeviceSession &device) {
    return std::ranges::count_if(device.zuzReceived(), [](const std::string &line) {
        return line.ends_with("_success True");
    });
}

std::string ttyOf(const DeviceSession &device) {
    std::string tty;
    eventually([&] {
        for (const auto &line : device.zuzReceived()) {
            if (line.starts_with("R: ")) tty = line.substr(line.rfind(' ') + 1);
        }
        return !tty.empty();
    });
    return tty;
}

tcflag_t ptyLocalModes(const std::string &tty) {
    const vela::UniqueFd fd(::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios modes{};
    return fd && ::tcgetattr(fd.get(), &modes) == 0 ? modes.c_lflag : 0;
}

int zuzCount(const DeviceSession &device, const std::string &line, bool prefix) {
    return static_cast<int>(std::ranges::count_if(device.zuzReceived(), [&](const auto &received) {
        return prefix ? received.starts_with(line) : received == line;
    }));
}

Lines zuzFrom(const DeviceSession &device, const std::string &line) {
    auto all = device.zuzReceived();
    auto at = std::find(all.rbegin(), all.rend(), line);
    return {at == all.rend() ? all.end() : std::prev(at.base()), all.end()};
}

Lines velaRecords(const DeviceSession &device) {
    Lines messages;
    for (const auto &record : device.syslogRecords()) {
        if (record.identity == "vela") messages.push_back(record.message);
    }
    return messages;
}

bool waitForRecord(const DeviceSession &device, const std::string &text) {
    return eventually([&] {
        return std::ranges::any_of(device.syslogRecords(), [&](const SyslogRecord &record) {
            return record.message.find(text) != std::string::npos;
        });
    });
}

bool killDaemon(DeviceSession &device, const std::string &name) {
    const std::string gone = "while pidof " + name + " >/dev/null; do sleep 0.01; done";
    return device.runInDevice({"sh", "-c", "pkill -KILL -x " + name + " && " + gone}).status == 0;
}

std::optional<std::string> deviceFile(DeviceSession &device, const std::string &path) {
    auto result = device.runInDevice({"cat", path});
    return result.status == 0 ? std::optional<std::string>(result.out) : std::nullopt;
}

bool sendDatagram(const vela::UniqueFd &socket, const std::string &datagram) {
    return ::send(socket.get(), datagram.data(), datagram.size(), 0) ==
           static_cast<ssize_t>(datagram.size());
}

bool converse(DeviceSession &device,
              const std::vector<std::pair<std::string, std::string>> &promptsAndReplies) {
    for (const auto &[prompt, reply] : promptsAndReplies) {
        if (!device.waitFor(prompt, 8s)) return false;
        device.type(reply);
    }
    return true;
}

ShellSession::ShellSession(DeviceOptions options, Start start)
    : DeviceSession([&] {
          if (options.velaBinary.empty()) options.velaBinary = VELA_BINARY;
          options.columns = 1000;
          if (start == kQuiet) options.launcherArguments.push_back("--no-syslogd");
          return std::move(options);
      }()) {
    // A set-up script before the shell (hundreds of planted links) takes seconds on a
    // loaded machine; the bound is only for a shell that never gets there.
    EXPECT_TRUE(waitForLoop(*this, 20s)) << output();
    if (start == kReady) return;
    // The banner came before the loop's line, but the terminal's reader may not have it
    // yet; the live log's thread says once that syslogd is missing, whenever it gets to
    // it. Only past both can a line's output be told apart.
    const std::string banner = "Session type: telnet\r\r\n",
                      noLog = "logReaderThread: syslogd not running\r\r\n";
    std::string screen;
    eventually([&] {
        screen = output();
        return screen.find(banner) != std::string::npos && screen.find(noLog) != std::string::npos;
    });
    waitFor(screen.find(banner) > screen.find(noLog) ? banner : noLog);
    newZuzLines();
}

std::string ShellSession::run(const std::string &line, const std::string &until, bool echoed) {
    type(line + "\r");
    const auto shown = echoed && !waitFor(line + "\r\n") ? std::nullopt : readUntil(until);
    if (!shown) ADD_FAILURE() << "no \"" << until << "\" after \"" << line << "\"; " << output();
    return shown.value_or("");
}

std::string ShellSession::runThenSync(const std::string &line) {
    static const std::string kProbe =
        "test sync\r\nargc=2\r\r\nargv[0]=test\r\r\nargv[1]=sync\r\r\n";
    type(line + "\r");
    const std::string shown = run("test sync", "argv[1]=sync\r\r\n", false);
    return shown.substr(0, shown.rfind(kProbe));
}

void ShellSession::forward(const std::string &line, const std::string &zuzLine) {
    const int before = zuzCount(*this, zuzLine);
    type(line + "\r");
    EXPECT_TRUE(eventually([&] { return zuzCount(*this, zuzLine) > before; }))
        << "zuz did not get \"" << zuzLine << "\" for \"" << line << "\"";
}

Lines ShellSession::newZuzLines() {
    auto all = zuzReceived();
    Lines fresh(all.begin() + static_cast<long>(std::min(zuzSeen_, all.size())), all.end());
    zuzSeen_ = all.size();
    return fresh;
}

void ShellSession::end() {
    type("\x04");
    EXPECT_EQ(waitExit(), 0);
}

}  // namespace vela::test
