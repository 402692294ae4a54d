// The local command table, the dispatcher and the simple commands.

#include "commands.h"

#include <stdio.h>
#include <string.h>

#include "cle.h"
#include "command_parsing.h"
#include "console.h"
#include "log_monitor.h"
#include "numbers.h"
#include "owned.h"
#include "secret_words.h"
#include "session.h"
#include "system_commands.h"

namespace {

constexpr int kHistorySlots = 64;
constexpr size_t kLineRoom = 512;

const char *const kNeedsMore = "error: command needs more parameters to execute successfully";
const char *const kIllegalParameters = "error: command has illegal parameter(s)";

void test_cmd(CommandContext &context, int argc, char **argv) {
    shell_println(context.log(), "argc=%d", argc);
    for (int i = 0; i < argc; ++i)
        shell_println(context.log(), "argv[%d]=%s", i, argv[i]);
}

void apicmds_cmd(CommandContext &context, int, char **) {
    shell_println(context.log(), "Entering sticky customer api commands *ONLY* mode...");
    context.loop.mode = CommandMode::kCustomerApi;
}

void devcmds_cmd(CommandContext &context, int, char **) {
    shell_println(context.log(), "Entering sticky internal commands *ONLY* mode...");
    context.loop.mode = CommandMode::kInternal;
}

void session_cmd(CommandContext &context, int argc, char **argv) {
    if (argc == 1) {
        shell_println(context.log(), "%s", kNeedsMore);
        return;
    }
    if (strcmp(argv[1], "name") != 0 && strcmp(argv[1], "find") != 0) {
        shell_println(context.log(), "%s", kIllegalParameters);
        return;
    }
    if (argc == 3)
        context.link().send_session(argv[1], argv[2]);
    else if (argc == 2)
        shell_println(context.log(), "%s", kNeedsMore);
    else
        shell_println(context.log(), "%s", kIllegalParameters);
}

void prompt_cmd(CommandContext &context, int argc, char **argv) {
    context.loop.prompt_enabled = get_bool_parm(argc, argv, context.loop.prompt_enabled) != 0;
    shell_println(context.log(), "prompt %s", context.loop.prompt_enabled ? "enabled" : "disabled");
}

void cmdecho_cmd(CommandContext &context, int argc, char **argv) {
    if (argc == 1) {
        shell_println(context.log(), "%s", kNeedsMore);
        return;
    }
    bool on = argc == 2 && strcmp(argv[1], "on") == 0;
    bool off = argc == 2 && strcmp(argv[1], "off") == 0;
    if (!on && !off) {
        shell_println(context.log(), "error: command has illegal parameters");
        return;
    }
    context.loop.echo = on;
    cle_echo_enable(on ? 1 : 0);
    shell_println(context.log(), "%s %s", argv[0], argv[1]);
    fflush(stdout);
}

// "exit" with words (the loop takes a bare "exit" itself).
void exit_cmd(CommandContext &context, int, char **) {
    context.loop.end_now = true;
}

void history_cmd(CommandContext &context, int, char **argv) {
    const SessionLog &log = context.log();
    shell_println(log, "command history:");
    int size = cle_history_size();
    if (size == 0) {
        shell_println(log, "<empty>");
    } else {
        int slot = cle_history_get_start();
        for (int n = 0; n < size; ++n) {
            const char *line = cle_history(slot);
            shell_println(log, "%2d  %s", slot + 1, line ? line : "");
            slot = slot == kHistorySlots - 1 ? 0 : slot + 1;
        }
        shell_println(log, "%d commands (only the last %d shown)", size, kHistorySlots);
    }
    shell_println(log, "%s success", argv[0]);
}

void repeat_cmd(CommandContext &context, int argc, char **argv) {
    if (argc != 2) {
        shell_println(context.log(), "%s", kIllegalParameters);
        return;
    }
    if (strcmp(argv[0], "repeat") != 0 && strcmp(argv[0], "!") != 0) return;
    int number = parse_leading_int_low32(argv[1]);
    if (number < 1 || number > kHistorySlots) {
        shell_println(context.log(), "error: value out of range. valid range 1..%d", kHistorySlots);
        return;
    }
    int size = cle_history_size();
    const char *entry = cle_history(number - 1);
    if ((size != kHistorySlots && number > size - 1) || entry == nullptr) {
        shell_println(context.log(), "error: invalid command history reference");
        return;
    }
    char line[kLineRoom];
    snprintf(line, sizeof line, "%s", entry);  // the text before the replacement
    cle_history_replace_last_entry(line);
    context.link().send_command(line, context.loop.mode);
}

void api_cmd(CommandContext &context, int argc, char **argv) {
    char joined[kLineRoom];
    if (argc < 2) return;
    if (join_encoding_secrets(joined, argc - 1, argv + 1) != 0) {
        shell_println(context.log(), "%s", kSecretsTooLong);
        return;
    }
    context.link().send_api(joined);
}

// Searched from the top; the first match wins. -1 marks rows local in every mode.
constexpr ShellCommandT command_table[] = {
    {"test", test_cmd, 0},
    {"shell", shell_cmd, -1},
    {"!", repeat_cmd, -1},
    {"api", api_cmd, 0},
    {"apicmds", apicmds_cmd, 0},
    {"cmdecho", cmdecho_cmd, -1},
    {"cull", log_cull_cmd, 0},
    {"devcmds", devcmds_cmd, 0},
    {"exit", exit_cmd, -1},
    {"hist", history_cmd, -1},
    {"history", history_cmd, -1},
    {"log", log_cmd, 0},
    {"kbox", sys_cmd, 0},
    {"printenv", printenv_cmd, -1},
    {"prompt", prompt_cmd, 0},
    {"repeat", repeat_cmd, -1},
    {"session", session_cmd, -1},
    {"setenv", setenv_cmd, -1},
    {"show", log_show_cmd, 0},
    {"sys", sys_cmd, 0},
    {"crashreport", crashreport_cmd, 0},
    {nullptr, nullptr, 0},
};
static_assert(sizeof command_table / sizeof command_table[0] == 22, "21 commands and the end");
static_assert(command_table[21].command == nullptr, "the table ends with a null row");

bool dispatch(CommandContext &context, char *line) {
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(line, &argc, argv) != 0) {
        shell_println(context.log(), "Invalid command");
        return true;
    }
    if (argc == 0) return true;  // a comment
    bool normal = context.loop.mode == CommandMode::kNormal;
    for (const ShellCommandT *row = command_table; row->command; ++row) {
        if ((normal || row->anySession) && strcmp(row->command, argv[0]) == 0) {
            row->command_handler(context, argc, argv);
            return true;
        }
    }
    return false;
}

}  // namespace

bool process_command(CommandContext &context, const char *line) {
    size_t len = strlen(line);
    if (len < kLineRoom) {
        char copy[kLineRoom];
        memcpy(copy, line, len + 1);
        return dispatch(context, copy);
    }
    vela::OwnedBytes copy = vela::make_bytes(len + 1);
    if (!copy) {
        shell_println(context.log(), "error: no memory for the command");
        return true;
    }
    memcpy(copy.get(), line, len + 1);
    return dispatch(context, copy.get());
}
