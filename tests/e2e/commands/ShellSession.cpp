#include "ShellSession.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <regex>
#include <sstream>

namespace vela::test {

namespace {

DeviceOptions withDefaults(DeviceOptions options) {
    if (options.velaBinary.empty()) options.velaBinary = VELA_BINARY;
    options.columns = 1000;
    return options;
}

}  // namespace

std::string withoutLogLines(const std::string &text, std::vector<size_t> *positions) {
    // A live-log line may also follow the first typed character of a line: the editor
    // reports typing only after echoing it.
    static const std::regex kLogLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [a-z]+ [^\n]*\n)");
    std::string kept;
    if (positions) positions->clear();
    size_t from = 0;
    auto keep = [&](size_t end) {
        for (; from < end; ++from) {
            kept += text[from];
            if (positions) positions->push_back(from);
        }
    };
    for (std::sregex_iterator it(text.begin(), text.end(), kLogLine), last; it != last; ++it) {
        keep(static_cast<size_t>(it->position()));
        from += static_cast<size_t>(it->length());
    }
    keep(text.size());
    if (positions) positions->push_back(text.size());
    return kept;
}

ShellSession::ShellSession(DeviceOptions options, bool waitReady)
    : device_(withDefaults(std::move(options))) {
    if (!waitReady) return;
    EXPECT_TRUE(device_.waitForZuzLine(kLoopReady)) << device_.output();
    // The banner was written before that line was sent, but the terminal's reader may
    // not have taken it in yet.
    const std::string banner = "Session type: telnet\r\r\n";
    size_t at = std::string::npos;
    eventually([&] { return (at = device_.output().find(banner)) != std::string::npos; });
    if (at != std::string::npos) offset_ = at + banner.size();
    newZuzLines();
}

std::string ShellSession::ttyName() const {
    // The registration line: "R: telnet LISTENER TTY".
    std::string registration = device_.zuzReceived().at(0);
    return registration.substr(registration.rfind(' ') + 1);
}

std::string ShellSession::run(const std::string &line, const std::string &until, bool echoed) {
    device_.type(line + "\r");
    const std::string echo = echoed ? line + "\r\n" : "";
    std::string shown;
    size_t from = 0, end = 0, rawEnd = 0;
    bool seen = eventually([&] {
        std::vector<size_t> positions;
        shown = withoutLogLines(device_.output().substr(offset_), &positions);
        size_t at = shown.find(echo);
        if (at == std::string::npos) return false;
        from = at + echo.size();
        size_t found = shown.find(until, from);
        if (found == std::string::npos) return false;
        end = found + until.size();
        rawEnd = offset_ + (end > 0 ? positions[end - 1] + 1 : 0);
        return true;
    });
    if (!seen) {
        ADD_FAILURE() << "no \"" << until << "\" after \"" << line
                      << "\"; screen: " << device_.output().substr(offset_);
        return "";
    }
    offset_ = rawEnd;
    return shown.substr(from, end - from);
}

std::string ShellSession::runThenSync(const std::string &line) {
    device_.type(line + "\r");
    return run("test sync", "argv[1]=sync\r\r\n", false);
}

void ShellSession::forward(const std::string &line, const std::string &zuzLine) {
    int before = zuzCount(zuzLine);
    device_.type(line + "\r");
    EXPECT_TRUE(eventually([&] { return zuzCount(zuzLine) > before; }))
        << "zuz did not get \"" << zuzLine << "\" for \"" << line << "\"";
}

std::vector<std::string> ShellSession::newZuzLines() {
    auto all = device_.zuzReceived();
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(zuzSeen_, all.size())),
                                   all.end());
    zuzSeen_ = all.size();
    return fresh;
}

int ShellSession::zuzCount(const std::string &line) const {
    int count = 0;
    for (const auto &received : device_.zuzReceived())
        count += received == line;
    return count;
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
