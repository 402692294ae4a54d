// The rules file (zuz-rules in the state directory) makes zuz misbehave on purpose.
// zuz reads it again whenever it changes (replace it atomically: write and rename).
//
// One rule per line; blank lines and lines whose first non-blank is '#' are ignored:
//     MATCH [times N] => ACTION [; ACTION ...]
// MATCH is one of
//     exact "TEXT"      the received line (as the line reader cleaned it) equals TEXT
//     prefix "TEXT"     the received line begins with TEXT
//     any               every line
// "times N" limits the rule to the first N lines it matches after the file was read.
// The first rule that matches a line decides; a line no rule matches is handled as
// usual. The actions run in order:
//     run               handle the line as usual: execute it, then send its reply
//     exec              execute it (its output and result lines) but send no reply
//     reply CODE        send "R: CODE"
//     noreply           send nothing
//     drop              close the connection at once; later actions are not run
//     delay MS          wait MS milliseconds (at most 60000)
//     send "TEXT"       send TEXT and a LF on the XCOM connection, in one write
//     sendraw "BYTES"   send BYTES exactly as given, in one write
//     sendlong N        send a line of N bytes: N-1 times "x" and a LF (1..1048576)
//     datagram "BYTES"  send BYTES as one datagram to the session's listener socket
//     result "WORD"     a login or logout executed later in this rule answers WORD
//     noresult          a login or logout executed later in this rule sends no result
// A rule without run, exec, reply, noreply or drop ends with an implicit run.
// Strings are in double quotes; inside them \\ \" \n \r \t \0 and \xNN stand for
// their bytes. Examples:
//     exact "C: version" => reply -5
//     prefix "E: _control login" times 1 => delay 200; result "lockout"
//     prefix "C: echo" => run; datagram "late\n"; datagram "two\nlines\n"
//     exact "C: status" => send "R"; noreply
#include "Rules.h"

#include <cctype>
#include <charconv>
#include <optional>

#include "Escape.h"

namespace sim::zuz {

namespace {

// Reads words and quoted strings from one rule line.
class Scanner {
  public:
    explicit Scanner(std::string_view text) : text_(text) {}

    void skipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
            ++pos_;
    }
    bool atEnd() {
        skipBlanks();
        return pos_ >= text_.size();
    }
    bool peek(char c) {
        skipBlanks();
        return pos_ < text_.size() && text_[pos_] == c;
    }
    bool take(std::string_view token) {
        skipBlanks();
        if (text_.substr(pos_, token.size()) != token) return false;
        pos_ += token.size();
        return true;
    }
    std::string word() {
        skipBlanks();
        size_t start = pos_;
        while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                       text_[pos_] == '-' || text_[pos_] == '+'))
            ++pos_;
        return std::string(text_.substr(start, pos_ - start));
    }
    std::optional<long> number() {
        std::string w = word();
        long value = 0;
        auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), value);
        if (w.empty() || ec != std::errc() || end != w.data() + w.size()) return std::nullopt;
        return value;
    }
    std::optional<std::string> quoted() {
        skipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
        size_t start = ++pos_;
        while (pos_ < text_.size() && text_[pos_] != '"')
            pos_ += text_[pos_] == '\\' ? 2 : 1;
        if (pos_ >= text_.size()) return std::nullopt;
        auto value = unescape(text_.substr(start, pos_ - start));
        ++pos_;
        return value;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

struct ActionSyntax {
    const char *word;
    Action::Kind kind;
    enum { None, Number, Text } argument;
    long min, max;
};

constexpr ActionSyntax kActions[] = {
    {"run", Action::Kind::Run, ActionSyntax::None, 0, 0},
    {"exec", Action::Kind::Exec, ActionSyntax::None, 0, 0},
    {"reply", Action::Kind::Reply, ActionSyntax::Number, -2147483647 - 1, 2147483647},
    {"noreply", Action::Kind::NoReply, ActionSyntax::None, 0, 0},
    {"drop", Action::Kind::Drop, ActionSyntax::None, 0, 0},
    {"delay", Action::Kind::Delay, ActionSyntax::Number, 0, 60000},
    {"sendraw", Action::Kind::SendRaw, ActionSyntax::Text, 0, 0},
    {"sendlong", Action::Kind::SendLong, ActionSyntax::Number, 1, 1048576},
    {"send", Action::Kind::Send, ActionSyntax::Text, 0, 0},
    {"datagram", Action::Kind::Datagram, ActionSyntax::Text, 0, 0},
    {"result", Action::Kind::Result, ActionSyntax::Text, 0, 0},
    {"noresult", Action::Kind::NoResult, ActionSyntax::None, 0, 0},
};

bool decidesReply(Action::Kind kind) {
    return kind == Action::Kind::Run || kind == Action::Kind::Exec || kind == Action::Kind::Reply ||
           kind == Action::Kind::NoReply || kind == Action::Kind::Drop;
}

// Parses one action; an error text on failure.
std::optional<std::string> parseAction(Scanner &in, Action &action) {
    std::string word = in.word();
    for (const auto &syntax : kActions) {
        if (word != syntax.word) continue;
        action.kind = syntax.kind;
        if (syntax.argument == ActionSyntax::Number) {
            auto value = in.number();
            if (!value || *value < syntax.min || *value > syntax.max)
                return "bad number after " + word;
            action.number = *value;
        } else if (syntax.argument == ActionSyntax::Text) {
            auto value = in.quoted();
            if (!value) return "bad string after " + word;
            action.text = std::move(*value);
        }
        return std::nullopt;
    }
    return word.empty() ? std::string("missing action") : "unknown action " + word;
}

std::optional<std::string> parseRule(std::string_view line, Rule &rule) {
    Scanner in(line);
    std::string match = in.word();
    if (match == "exact" || match == "prefix") {
        rule.match = match == "exact" ? Rule::Match::Exact : Rule::Match::Prefix;
        auto pattern = in.quoted();
        if (!pattern) return "bad pattern string";
        rule.pattern = std::move(*pattern);
    } else if (match == "any") {
        rule.match = Rule::Match::Any;
    } else {
        return "unknown match " + match;
    }
    if (in.take("times")) {
        auto times = in.number();
        if (!times || *times < 1) return "bad number after times";
        rule.times = *times;
    }
    if (!in.take("=>")) return "missing =>";
    bool decided = false;
    do {
        Action action;
        if (auto error = parseAction(in, action)) return error;
        decided = decided || decidesReply(action.kind);
        rule.actions.push_back(std::move(action));
    } while (in.take(";"));
    if (!in.atEnd()) return "unexpected text after the actions";
    if (!decided) rule.actions.push_back(Action{});
    return std::nullopt;
}

}  // namespace

bool Rule::matches(std::string_view line) const {
    switch (match) {
        case Match::Exact:
            return line == pattern;
        case Match::Prefix:
            return line.substr(0, pattern.size()) == pattern;
        case Match::Any:
            return true;
    }
    return false;
}

RuleSet parseRules(std::string_view text) {
    RuleSet set;
    int number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') continue;
        Rule rule;
        rule.lineNumber = number;
        if (auto error = parseRule(line, rule))
            set.errors.push_back("line " + std::to_string(number) + ": " + *error);
        else
            set.rules.push_back(std::move(rule));
    }
    return set;
}

}  // namespace sim::zuz
