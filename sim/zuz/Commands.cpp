#include "Commands.h"

#include <syslog.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace sim::zuz {

namespace {

constexpr unsigned kGeneral = static_cast<unsigned>(Channel::Customer) |
                              static_cast<unsigned>(Channel::Api) |
                              static_cast<unsigned>(Channel::Internal);
constexpr unsigned kInternal = static_cast<unsigned>(Channel::Internal);
constexpr unsigned kSessionOps = static_cast<unsigned>(Channel::Session);
constexpr int kBadArguments = 1;
constexpr long kMaxEvents = 10000;

struct Context {
    Application &app;
    Session &session;
    Channel channel;
    const ResultOverride &override;
};

std::string who(const Session &session) {
    return session.tty.empty() ? "session " + std::to_string(session.id) : session.tty;
}

// A syslog record of what zuz did; the text is never a format.
void note(const Context &ctx, const std::string &text) {
    ::syslog(LOG_INFO, "%s: %s", who(ctx.session).c_str(), text.c_str());
}

Outcome lines(std::vector<std::string> output, int code = 0) {
    return Outcome{code, std::move(output), {}};
}

Outcome usage(const char *text) {
    return lines({std::string("usage: ") + text}, kBadArguments);
}

// Splits "WORD REST" at its first blank; REST keeps its own blanks.
std::pair<std::string_view, std::string_view> splitWord(std::string_view text) {
    size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return {text, {}};
    return {text.substr(0, blank), text.substr(blank + 1)};
}

Outcome resultLine(const Context &ctx, std::string word, int code = 0) {
    Outcome outcome{code, {}, {}};
    if (ctx.override.suppress) return outcome;
    outcome.output.push_back(ctx.override.word.value_or(std::move(word)));
    return outcome;
}

Outcome helpCmd(Context &ctx, std::string_view);
Outcome versionCmd(Context &, std::string_view) {
    return lines({"zuz 2.4.1 (simulated device)", "libxcom 0.0.1"});
}

Outcome statusCmd(Context &ctx, std::string_view) {
    auto uptime = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - ctx.app.started);
    auto sessions = ctx.app.sessions.snapshot();
    std::vector<std::string> out = {
        "device: " + ctx.app.settings.get("systemname").value_or(""),
        "application up " + std::to_string(uptime.count()) + " s",
        "sessions: " + std::to_string(sessions.size()),
    };
    for (const auto &s : sessions) {
        out.push_back("  " + s.type + " " + s.tty + (s.user.empty() ? "" : " user " + s.user) +
                      (s.name.empty() ? "" : " name " + s.name));
    }
    note(ctx, "status shown");
    return lines(std::move(out));
}

Outcome echoCmd(Context &ctx, std::string_view args) {
    note(ctx, "echo");
    return lines({std::string(args)});
}

Outcome eventsCmd(Context &ctx, std::string_view args) {
    long count = 1;
    if (!args.empty()) {
        auto [end, ec] = std::from_chars(args.data(), args.data() + args.size(), count);
        if (ec != std::errc() || end != args.data() + args.size() || count < 1 ||
            count > kMaxEvents)
            return usage("events [1..10000]");
    }
    Outcome outcome{0, {"raising " + std::to_string(count) + " event(s)"}, {}};
    for (long i = 1; i <= count; ++i)
        outcome.afterReply.push_back("event " + std::to_string(i) + " of " + std::to_string(count) +
                                     ": call status changed");
    note(ctx, "raised " + std::to_string(count) + " event(s)");
    return outcome;
}

Outcome whoamiCmd(Context &ctx, std::string_view) {
    if (!ctx.session.user.empty()) return lines({ctx.session.user});
    return lines({ctx.app.settings.get("adminuserid").value_or("")});
}

Outcome systemsettingCmd(Context &ctx, std::string_view args) {
    auto [name, rest] = splitWord(args);
    std::string key(name);
    if (!KeyValueFile::validName(key)) return usage("systemsetting NAME [VALUE]");
    if (args.find(' ') == std::string_view::npos) {
        auto value = ctx.app.settings.get(key);
        if (!value) return lines({"error: unknown setting " + key}, kBadArguments);
        return lines({key + " = " + *value});
    }
    try {
        ctx.app.settings.set(key, std::string(rest));
    } catch (const std::exception &e) {
        return lines({std::string("error: cannot store the setting: ") + e.what()}, kBadArguments);
    }
    note(ctx, "setting " + key + " changed");
    return lines({key + " set to \"" + std::string(rest) + "\""});
}

Outcome execwithoutechoCmd(Context &ctx, std::string_view args) {
    Outcome outcome = executeCommand(ctx.app, ctx.session, ctx.channel, args, ctx.override);
    outcome.output.clear();
    outcome.afterReply.clear();
    return outcome;
}

Outcome controlCmd(Context &ctx, std::string_view args) {
    auto [op, rest] = splitWord(args);
    if (op == "login") {
        auto request = parseLoginArguments(rest);
        if (ctx.override.word || ctx.override.suppress) return resultLine(ctx, "");
        if (!request) return resultLine(ctx, "failed", kBadArguments);
        std::string result = ctx.app.login.check(*request);
        if (result == "success") {
            ctx.session.user = request->user;
            ctx.app.sessions.publish(ctx.session);
        }
        // The password stays out of the log.
        note(ctx, "login of \"" + request->user + "\" on " + request->tty + ": " + result);
        return resultLine(ctx, result);
    }
    if (op == "logout") {
        if (rest.empty()) return resultLine(ctx, "failed", kBadArguments);
        note(ctx, "logout of \"" + ctx.session.user + "\" on " + std::string(rest));
        ctx.session.user.clear();
        ctx.app.sessions.publish(ctx.session);
        return resultLine(ctx, "success");
    }
    return lines({"error: unknown control operation"}, kBadArguments);
}

Outcome rebootCmd(Context &ctx, std::string_view args) {
    if (args != "now") return usage("reboot now");
    note(ctx, "reboot requested; the simulated device stays up");
    return lines({"The system is going down for reboot NOW"});
}

Outcome importCmd(Context &ctx, std::string_view args) {
    std::string path(args);
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in) {
        return lines({"error: cannot read " + path + ": " + std::strerror(errno)}, kBadArguments);
    }
    long lineCount = 0, byteCount = 0;
    char last = '\n';
    for (char c; in.get(c); last = c) {
        ++byteCount;
        if (c == '\n') ++lineCount;
    }
    if (last != '\n') ++lineCount;
    std::string summary = "imported " + path + ": " + std::to_string(lineCount) + " lines, " +
                          std::to_string(byteCount) + " bytes";
    note(ctx, summary);
    return lines({summary});
}

Outcome crashtestCmd(Context &ctx, std::string_view) {
    note(ctx, "crash test: pretending to crash");
    return lines({"simulated crash: a crash report would be written now"});
}

Outcome nameCmd(Context &ctx, std::string_view args) {
    if (args.empty()) return usage("session name NAME");
    ctx.session.name = std::string(args);
    ctx.app.sessions.publish(ctx.session);
    note(ctx, "session named " + ctx.session.name);
    return lines({"session name: " + ctx.session.name});
}

Outcome findCmd(Context &ctx, std::string_view args) {
    if (args.empty()) return usage("session find NAME");
    for (const auto &s : ctx.app.sessions.snapshot()) {
        if (s.name == args) return lines({"found " + s.name + " on " + s.tty});
    }
    return lines({"no session named " + std::string(args)});
}

struct CommandEntry {
    std::string_view word;
    unsigned channels;
    Outcome (*run)(Context &, std::string_view);
    std::string_view help;  // empty: not listed by "help"
};

constexpr CommandEntry kCommands[] = {
    {"help", kGeneral, helpCmd, "help                    this list"},
    {"version", kGeneral, versionCmd, "version                 the application's version"},
    {"status", kGeneral, statusCmd, "status                  the device and its sessions"},
    {"echo", kGeneral, echoCmd, "echo TEXT               prints TEXT"},
    {"events", kGeneral, eventsCmd, "events [N]              raises N asynchronous events"},
    {"whoami", kGeneral, whoamiCmd, "whoami                  the user of this session"},
    {"systemsetting", kGeneral, systemsettingCmd,
     "systemsetting NAME [VALUE]  shows or sets a device setting"},
    {"execwithoutecho", kGeneral, execwithoutechoCmd, ""},
    {"_control", kGeneral, controlCmd, ""},
    {"reboot", kGeneral, rebootCmd, "reboot now              pretends to reboot the device"},
    {"_importdirectory", kGeneral, importCmd, ""},
    {"crashtest", kInternal, crashtestCmd, "sys crashtest           pretends to crash"},
    {"name", kSessionOps, nameCmd, "session name NAME       names this session"},
    {"find", kSessionOps, findCmd, "session find NAME       looks for a named session"},
};

static_assert(sizeof kCommands / sizeof kCommands[0] > 0);

Outcome helpCmd(Context &, std::string_view) {
    std::vector<std::string> out = {"commands of the application:"};
    for (const auto &entry : kCommands) {
        if (!entry.help.empty()) out.push_back("  " + std::string(entry.help));
    }
    return lines(std::move(out));
}

}  // namespace

Outcome executeCommand(Application &app, Session &session, Channel channel,
                       std::string_view command, const ResultOverride &override) {
    auto [word, args] = splitWord(command);
    for (const auto &entry : kCommands) {
        if (entry.word != word || (entry.channels & static_cast<unsigned>(channel)) == 0) continue;
        Context ctx{app, session, channel, override};
        return entry.run(ctx, args);
    }
    return Outcome{-1, {}, {}};
}

}  // namespace sim::zuz
