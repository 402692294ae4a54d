#include "ShellOnDevice.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

namespace vela::test {

DeviceOptions shellWith(std::vector<std::string> args, Settings settings, const char *binary) {
    DeviceOptions options;
    options.velaBinary = binary != nullptr ? binary : VELA_BINARY;
    options.command = {kDeviceVela};
    options.command.insert(options.command.end(), args.begin(), args.end());
    options.settings = std::move(settings);
    return options;
}

Settings secureProfile(const std::string &password, const std::string &idle) {
    return {{"enablesecureprofile", "DoD DSN"}, {"sw", password}, {"idletimeoutapi", idle}};
}

DeviceOptions keptUp(DeviceOptions options) {
    options.command.insert(options.command.begin(),
                           {"sh", "-c", "\"$0\" \"$@\"; echo \"[status $?]\"; exec sleep 30"});
    return options;
}

int endStatus(DeviceSession &device, bool unregisters, std::chrono::milliseconds timeout) {
    if (!device.waitFor("[status ", timeout) || !device.waitFor("]")) return -1;
    if (unregisters && !device.waitForZuzLine("U")) return -1;
    const std::string screen = device.output();
    return std::atoi(screen.c_str() + screen.rfind("[status ") + 8);
}

bool waitForLoop(const DeviceSession &device) {
    const std::string ready = "E: execwithoutecho systemsetting telnet_client_2";
    return eventually([&] {
        return zuzCount(device, ready + "3_success True") +
               zuzCount(device, ready + "4_success True");
    });
}

std::string ttyOf(const DeviceSession &device) {
    std::string tty;
    eventually([&] {
        for (const auto &line : device.zuzReceived()) {
            if (line.rfind("R: ", 0) == 0) tty = line.substr(line.rfind(' ') + 1);
        }
        return !tty.empty();
    });
    return tty;
}

tcflag_t ptyLocalModes(const std::string &tty) {
    const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios modes{};
    if (fd < 0 || ::tcgetattr(fd, &modes) != 0) modes.c_lflag = 0;
    if (fd >= 0) ::close(fd);
    return modes.c_lflag;
}

int zuzCount(const DeviceSession &device, const std::string &line, bool prefix) {
    int n = 0;
    for (const auto &received : device.zuzReceived())
        n += prefix ? received.rfind(line, 0) == 0 : received == line;
    return n;
}

std::vector<std::string> zuzFrom(const DeviceSession &device, const std::string &line) {
    auto all = device.zuzReceived();
    auto at = std::find(all.rbegin(), all.rend(), line);
    return {at == all.rend() ? all.end() : std::prev(at.base()), all.end()};
}

std::vector<std::string> velaRecords(const DeviceSession &device) {
    std::vector<std::string> messages;
    for (const auto &record : device.syslogRecords()) {
        if (record.identity == "vela") messages.push_back(record.message);
    }
    return messages;
}

bool waitForRecord(const DeviceSession &device, const std::string &text) {
    return eventually([&] {
        for (const auto &record : device.syslogRecords()) {
            if (record.message.find(text) != std::string::npos) return true;
        }
        return false;
    });
}

std::optional<std::string> deviceFile(DeviceSession &device, const std::string &path) {
    auto result = device.runInDevice({"cat", path});
    return result.status == 0 ? std::optional<std::string>(result.out) : std::nullopt;
}

bool converse(DeviceSession &device,
              const std::vector<std::pair<std::string, std::string>> &promptsAndReplies) {
    for (const auto &[prompt, reply] : promptsAndReplies) {
        if (!device.waitFor(prompt, 8s)) return false;
        device.type(reply);
    }
    return true;
}

std::string exchange(DeviceSession &device, const std::string &line) {
    static int markers = 0;
    const std::string name = "marker" + std::to_string(++markers), marker = "\n" + name + "\r\n";
    const size_t from = device.output().size();
    device.type(line + "\recho " + name + "\r");
    EXPECT_TRUE(device.waitFor(marker)) << line;
    const std::string screen = device.output().substr(from);
    return screen.substr(0, screen.find(marker));
}

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

ShellSession::ShellSession(DeviceOptions options, Start start)
    : device_([&] {
          if (options.velaBinary.empty()) options.velaBinary = VELA_BINARY;
          options.columns = 1000;
          options.syslogd = start != kQuiet;  // no live log
          return options;
      }()) {
    if (start == kNotReady) return;
    EXPECT_TRUE(device_.waitForZuzLine(kLoopReady)) << device_.output();
    // The banner came before that line, but the terminal's reader may not have it yet.
    const std::string banner = "Session type: telnet\r\r\n";
    // Without syslogd the live log's thread says so once, whenever it gets to it: only
    // after that can a line's output be told apart.
    const std::string noLog = start == kQuiet ? "logReaderThread: syslogd not running\r\r\n" : "";
    for (const std::string &text : {banner, noLog}) {
        size_t at = std::string::npos;
        eventually([&] { return (at = device_.output().find(text)) != std::string::npos; });
        if (at != std::string::npos) offset_ = std::max(offset_, at + text.size());
    }
    newZuzLines();
}

std::string ShellSession::run(const std::string &line, const std::string &until, bool echoed) {
    device_.type(line + "\r");
    const std::string echo = echoed ? line + "\r\n" : "";
    std::string shown;
    size_t from = 0, end = 0;
    const bool seen = eventually([&] {
        shown = device_.output().substr(offset_);
        from = shown.find(echo);
        end = from == std::string::npos ? from : shown.find(until, from + echo.size());
        return end != std::string::npos;
    });
    if (!seen) {
        ADD_FAILURE() << "no \"" << until << "\" after \"" << line << "\"; screen: " << shown;
        return "";
    }
    offset_ += end + until.size();
    return shown.substr(from + echo.size(), end + until.size() - from - echo.size());
}

std::string ShellSession::runThenSync(const std::string &line) {
    static const std::string kProbe =
        "test sync\r\nargc=2\r\r\nargv[0]=test\r\r\nargv[1]=sync\r\r\n";
    device_.type(line + "\r");
    const std::string shown = run("test sync", "argv[1]=sync\r\r\n", false);
    return shown.substr(0, shown.rfind(kProbe));
}

void ShellSession::forward(const std::string &line, const std::string &zuzLine) {
    const int before = zuzCount(device_, zuzLine);
    device_.type(line + "\r");
    EXPECT_TRUE(eventually([&] { return zuzCount(device_, zuzLine) > before; }))
        << "zuz did not get \"" << zuzLine << "\" for \"" << line << "\"";
}

std::vector<std::string> ShellSession::newZuzLines() {
    auto all = device_.zuzReceived();
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(zuzSeen_, all.size())),
                                   all.end());
    zuzSeen_ = all.size();
    return fresh;
}

void ShellSession::log(const std::string &datagram) {
    if (!devLog_) devLog_ = device_.connectDatagram("/dev/log");
    ASSERT_TRUE(devLog_);
    ASSERT_EQ(::send(devLog_.get(), datagram.data(), datagram.size(), 0),
              static_cast<ssize_t>(datagram.size()));
}

bool ShellSession::logQueueEmpty() {
    // ss shows the receive queue of the shell's listener socket.
    return eventually([&] {
        auto result = device_.runInDevice({"ss", "-xanH", "src", "/tmp/sysloglisteners/*"});
        std::istringstream in(result.out);
        std::string netid, state;
        int queued = -1;
        return result.status == 0 && in >> netid >> state >> queued && queued == 0;
    });
}

void ShellSession::end() {
    device_.type("\x04");
    EXPECT_EQ(device_.waitExit(), 0);
}

}  // namespace vela::test
