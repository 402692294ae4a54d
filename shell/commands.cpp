// The local command table, the dispatcher and the simple commands.

#include "commands.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "app_link.h"
#include "cle.h"
#include "command_loop.h"
#include "command_parsing.h"
#include "console.h"
#include "log_monitor.h"
#include "numbers.h"
#include "session.h"
#include "system_commands.h"

namespace {

constexpr int kHistorySlots = 64;
constexpr size_t kJoinedRoom = 512;
constexpr size_t kLineRoom = 512;

const char *const kNeedsMore = "error: command needs more parameters to execute successfully";
const char *const kIllegalParameters = "error: command has illegal parameter(s)";

int prompt_enabled = 1;  // the "prompt" setting; main thread only

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

bool in_normal_mode() {
    return strcmp(cmd_fmt, "C: %s") == 0;
}

int dispatch(char *line) {
    char *argv[MAX_ARGS];
    int argc = 0;
    if (tokenizeString(line, &argc, argv) != 0) {
        shell_println("Invalid command");
        return -1;
    }
    if (argc == 0) return -1;  // a comment
    bool normal = in_normal_mode();
    for (const ShellCommandT *row = command_table; row->command; ++row) {
        if ((normal || row->anySession) && strcmp(row->command, argv[0]) == 0) {
            row->command_handler(argc, argv);
            return -1;
        }
    }
    return 0;
}

}  // namespace

int process_command(const char *cmd) {
    size_t len = strlen(cmd);
    if (len < kLineRoom) {
        char copy[kLineRoom];
        memcpy(copy, cmd, len + 1);
        return dispatch(copy);
    }
    std::vector<char> copy(cmd, cmd + len + 1);
    return dispatch(copy.data());
}

void test_cmd(int argc, char **argv) {
    shell_println("argc=%d", argc);
    for (int i = 0; i < argc; ++i)
        shell_println("argv[%d]=%s", i, argv[i]);
}

void apicmds_cmd(int, char **) {
    shell_println("Entering sticky customer api commands *ONLY* mode...");
    cmd_fmt = "E: %s";
}

void devcmds_cmd(int, char **) {
    shell_println("Entering sticky internal commands *ONLY* mode...");
    cmd_fmt = "D: %s";
}

void session_cmd(int argc, char **argv) {
    if (argc == 1) {
        shell_println("%s", kNeedsMore);
        return;
    }
    if (strcmp(argv[1], "name") != 0 && strcmp(argv[1], "find") != 0) {
        shell_println("%s", kIllegalParameters);
        return;
    }
    if (argc == 3)
        send_session_cmd(argv[1], argv[2]);
    else if (argc == 2)
        shell_println("%s", kNeedsMore);
    else
        shell_println("%s", kIllegalParameters);
}

void prompt_cmd(int argc, char **argv) {
    prompt_enabled = get_bool_parm(argc, argv, prompt_enabled);
    shell_println("prompt %s", prompt_enabled ? "enabled" : "disabled");
}

void cmdecho_cmd(int argc, char **argv) {
    if (argc == 1) {
        shell_println("%s", kNeedsMore);
        return;
    }
    bool on = argc == 2 && strcmp(argv[1], "on") == 0;
    bool off = argc == 2 && strcmp(argv[1], "off") == 0;
    if (!on && !off) {
        shell_println("error: command has illegal parameters");
        return;
    }
    cmdecho_state = on ? 1 : 0;
    cle_echo_enable(cmdecho_state);
    shell_println("%s %s", argv[0], argv[1]);
    fflush(stdout);
}

void exit_cmd(int, char **) {
    cleanup();
    exit(0);
}

void history_cmd(int, char **argv) {
    shell_println("command history:");
    int size = cle_history_size();
    if (size == 0) {
        shell_println("<empty>");
    } else {
        int slot = cle_history_get_start();
        for (int n = 0; n < size; ++n) {
            const char *line = cle_history(slot);
            shell_println("%2d  %s", slot + 1, line ? line : "");
            slot = slot == kHistorySlots - 1 ? 0 : slot + 1;
        }
        shell_println("%d commands (only the last %d shown)", size, kHistorySlots);
    }
    shell_println("%s success", argv[0]);
}

void repeat_cmd(int argc, char **argv) {
    if (argc != 2) {
        shell_println("%s", kIllegalParameters);
        return;
    }
    if (strcmp(argv[0], "repeat") != 0 && strcmp(argv[0], "!") != 0) return;
    int number = parse_leading_int_low32(argv[1]);
    if (number < 1 || number > kHistorySlots) {
        shell_println("error: value out of range. valid range 1..%d", kHistorySlots);
        return;
    }
    int size = cle_history_size();
    const char *entry = cle_history(number - 1);
    if ((size != kHistorySlots && number > size - 1) || entry == nullptr) {
        shell_println("error: invalid command history reference");
        return;
    }
    char line[kLineRoom];
    snprintf(line, sizeof line, "%s", entry);  // the text before the replacement
    cle_history_replace_last_entry(line);
    send_command(line);
}

void api_cmd(int argc, char **argv) {
    if (argc < 2) return;
    char joined[kJoinedRoom];
    if (join_encoding_secrets(joined, argc - 1, argv + 1) != 0) return;
    send_api_cmd(joined);
}
