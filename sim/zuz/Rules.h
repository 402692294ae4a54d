// Scripted misbehaviour of zuz for fault tests: the rules file of the state directory.
// The syntax is described at the top of Rules.cpp.
#ifndef SIM_ZUZ_RULES_H
#define SIM_ZUZ_RULES_H

#include <string>
#include <string_view>
#include <vector>

namespace sim::zuz {

struct Action {
    enum class Kind {
        Run,       // handle the line as usual, reply included
        Exec,      // execute it (output, result lines) without replying
        Reply,     // send "R: <number>"
        NoReply,   // send nothing
        Drop,      // close the connection; later actions are not run
        Delay,     // wait <number> milliseconds
        Send,      // send <text> and a LF on the XCOM connection, in one write
        SendRaw,   // send <text> exactly, in one write
        SendLong,  // send <number> bytes: "x" repeated and a final LF
        Datagram,  // send <text> as one datagram to the session's listener
        Result,    // a login or logout answers <text> instead of checking
        NoResult,  // a login or logout sends no result line
    };
    Kind kind = Kind::Run;
    long number = 0;
    std::string text;
};

struct Rule {
    enum class Match { Exact, Prefix, Any };
    Match match = Match::Any;
    std::string pattern;
    long times = -1;  // lines the rule still applies to; -1 for all
    std::vector<Action> actions;
    int lineNumber = 0;

    bool matches(std::string_view line) const;
};

struct RuleSet {
    std::vector<Rule> rules;
    std::vector<std::string> errors;  // "line N: what is wrong"; such lines are skipped
};

// Parses a whole rules file. Returns a new set owned by the caller; any thread.
RuleSet parseRules(std::string_view text);

}  // namespace sim::zuz

#endif
