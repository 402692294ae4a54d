#include "Connection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "libxcom.h"

namespace sim::zuz {

namespace {

constexpr std::string_view kPrefixes[] = {"C: ", "E: ", "D: ", "N: "};
constexpr Channel kChannels[] = {Channel::Customer, Channel::Api, Channel::Internal,
                                 Channel::Session};

// A listener that stops reading must not hold up the connection for long.
constexpr int kDatagramTimeoutSeconds = 2;

}  // namespace

Connection::Connection(Application &app, vela::UniqueFd socket, int id)
    : app_(app),
      socket_(std::move(socket)),
      datagram_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    session_.id = id;
    timeval timeout{kDatagramTimeoutSeconds, 0};
    ::setsockopt(datagram_.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

void Connection::serve() {
    // Reader state of socket_read_line, too large for a thread's stack frame.
    auto buffer = std::make_unique<char[]>(XCOM_READ_BUFFER_SIZE);
    auto line = std::make_unique<char[]>(XCOM_LINE_BUFFER_SIZE);
    int held = 0;
    for (;;) {
        // timeout 0 waits without limit, so 0 can only mean an empty line.
        int length = socket_read_line(socket_.get(), buffer.get(), &held, line.get(), 0);
        if (length < 0) break;
        if (!handleLine(std::string_view(line.get(), static_cast<size_t>(length)))) break;
    }
    app_.sessions.forget(session_.id);
}

bool Connection::handleLine(std::string_view line) {
    app_.received.append({line});
    if (auto actions = app_.rules.match(line)) return runRule(*actions, line);
    return handle(line, ResultOverride{}, true);
}

bool Connection::runRule(const std::vector<Action> &actions, std::string_view line) {
    ResultOverride override;
    for (const auto &action : actions) {
        bool ok = true;
        switch (action.kind) {
            case Action::Kind::Run:
                ok = handle(line, override, true);
                break;
            case Action::Kind::Exec:
                ok = handle(line, override, false);
                break;
            case Action::Kind::Reply:
                ok = sendReply(static_cast<int>(action.number));
                break;
            case Action::Kind::NoReply:
                break;
            case Action::Kind::Drop:
                return false;
            case Action::Kind::Delay:
                std::this_thread::sleep_for(std::chrono::milliseconds(action.number));
                break;
            case Action::Kind::Send:
                ok = sendXcom(action.text + "\n");
                break;
            case Action::Kind::SendRaw:
                ok = sendXcom(action.text);
                break;
            case Action::Kind::SendLong:
                ok = sendXcom(std::string(static_cast<size_t>(action.number - 1), 'x') + "\n");
                break;
            case Action::Kind::Datagram:
                sendDatagram(action.text);
                break;
            case Action::Kind::Result:
                override.word = action.text;
                override.suppress = false;
                break;
            case Action::Kind::NoResult:
                override.suppress = true;
                break;
        }
        if (!ok) return false;
    }
    return true;
}

bool Connection::handle(std::string_view line, const ResultOverride &override, bool reply) {
    if (line == "U") {
        if (session_.registered) ::syslog(LOG_INFO, "%s: session ended", session_.tty.c_str());
        int id = session_.id;
        session_ = Session();
        session_.id = id;
        app_.sessions.forget(session_.id);
        return true;
    }
    if (!line.empty() && line[0] == 'R') {
        int code = registerSession(line.size() > 3 ? line.substr(3) : std::string_view());
        return !reply || sendReply(code);
    }
    for (size_t i = 0; i < std::size(kPrefixes); ++i) {
        if (line.substr(0, 3) != kPrefixes[i]) continue;
        Outcome outcome = executeCommand(app_, session_, kChannels[i], line.substr(3), override);
        sendLines(outcome.output);
        if (reply && !sendReply(outcome.code)) return false;
        sendLines(outcome.afterReply);
        return true;
    }
    return !reply || sendReply(-1);
}

// "TYPE PATH TTY": 0 when the session is taken, -1 for a malformed line.
int Connection::registerSession(std::string_view arguments) {
    std::string_view words[3];
    for (auto &word : words) {
        size_t end = arguments.find(' ');
        word = arguments.substr(0, end);
        arguments = end == std::string_view::npos ? std::string_view() : arguments.substr(end + 1);
    }
    bool valid = !words[0].empty() && !words[2].empty() && arguments.empty() && !words[1].empty() &&
                 words[1][0] == '/' && words[1].size() < sizeof(sockaddr_un{}.sun_path);
    if (!valid) return -1;
    session_.registered = true;
    session_.type = std::string(words[0]);
    session_.listenerPath = std::string(words[1]);
    session_.tty = std::string(words[2]);
    app_.sessions.publish(session_);
    ::syslog(LOG_INFO, "%s: %s session registered", session_.tty.c_str(), session_.type.c_str());
    return 0;
}

bool Connection::sendXcom(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(socket_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Connection::sendReply(int code) {
    // One write per message: a reply split over two writes stalls the shell.
    return sendXcom("R: " + std::to_string(code) + "\n");
}

void Connection::sendDatagram(std::string_view bytes) {
    if (!session_.registered) {
        std::fprintf(stderr, "zuz: connection %d: no listener for %zu bytes\n", session_.id,
                     bytes.size());
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, session_.listenerPath.data(), session_.listenerPath.size());
    ssize_t n;
    do {
        n = ::sendto(datagram_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        std::fprintf(stderr, "zuz: connection %d: %s: %s\n", session_.id,
                     session_.listenerPath.c_str(), std::strerror(errno));
    }
}

void Connection::sendLines(const std::vector<std::string> &lines) {
    for (const auto &line : lines)
        sendDatagram(line + "\n");
}

}  // namespace sim::zuz
