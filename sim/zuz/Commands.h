// The commands zuz executes for forwarded lines ("C: ", "E: ", "D: ", "N: ").
#ifndef SIM_ZUZ_COMMANDS_H
#define SIM_ZUZ_COMMANDS_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Application.h"
#include "Sessions.h"

namespace sim::zuz {

enum class Channel : unsigned { Customer = 1, Api = 2, Internal = 4, Session = 8 };

// What executing one line produced: the reply code, the listener lines to send
// before the reply, and those to send after it (asynchronous events).
struct Outcome {
    int code = 0;
    std::vector<std::string> output;
    std::vector<std::string> afterReply;
};

// Changes a rule makes to the result line of a login or logout.
struct ResultOverride {
    std::optional<std::string> word;
    bool suppress = false;
};

// Executes command as received on channel for session (which it may change). An
// unknown command gives code -1 and no output. Called on the session's connection
// thread.
Outcome executeCommand(Application &app, Session &session, Channel channel,
                       std::string_view command, const ResultOverride &override);

}  // namespace sim::zuz

#endif
