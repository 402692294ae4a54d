// System commands. User text reaches the tools only as separate arguments of a program
// started directly, never through a command interpreter.

#include "system_commands.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <initializer_list>

#include "console.h"
#include "device_paths.h"
#include "process_runner.h"
#include "secret_words.h"
#include "session.h"

namespace {

constexpr size_t kMaxVariableName = 128;
constexpr size_t kMaxVariableValue = 372;
constexpr size_t kJoinedRoom = 512;
constexpr size_t kCrashCommandRoom = 256;

const char *const kIllegalParameters = "error: command has illegal parameter(s)";
const char *const kCrashUsage = "usage: crashreport enable|disable";

bool crash_reporting_available() {
    for (const char *type : {"RC", "BetaRC", "Alpha"})
        if (strcasecmp(kBuildType, type) == 0) return true;
    return false;
}

// A program that exists but cannot be executed ends like a child whose exec failed;
// only a child that cannot be created at all is a failure of the command.
bool child_not_created(int error) {
    return error == EAGAIN || error == ENOMEM;
}

void run_crash_tool(const SessionLog &log, const char *word, const char *done) {
    char command[kCrashCommandRoom];
    snprintf(command, sizeof command, "%s %s", paths::kCrashReportTool, word);
    int status = run_command_line(command);
    if (status < 0)
        shell_println(log, "error executing crashreport command");
    else if (status != 0)
        shell_println(log, "crashreport command returned error");
    else
        shell_println(log, "%s", done);
}

}  // namespace

void setenv_cmd(CommandContext &context, int argc, char **argv) {
    if (argc == 1) {
        shell_println(context.log(),
                      "error: command needs more parameters to execute successfully");
        return;
    }
    size_t name_len = strlen(argv[1]);
    bool bad_name = argc > 3 || name_len == 0 || name_len > kMaxVariableName;
    bool bad_value = argc == 3 && (argv[2][0] == '\0' || strlen(argv[2]) > kMaxVariableValue);
    if (bad_name || bad_value) {
        shell_println(context.log(), "%s", kIllegalParameters);
        return;
    }
    const char *tool_argv[] = {"fw_setenv", argv[1], argc == 3 ? argv[2] : nullptr, nullptr};
    SpawnOptions options;
    options.stdout_path = "/dev/null";
    options.search_path = true;
    pid_t pid = spawn_program(tool_argv, options);
    if (pid < 0) {
        if (child_not_created(errno)) shell_println(context.log(), "error: command failed");
        return;
    }
    if (wait_for_child(pid) < 0) shell_println(context.log(), "error: command failed");
}

void printenv_cmd(CommandContext &, int, char **) {
    run_command_line("fw_printenv");
}

void crashreport_cmd(CommandContext &context, int argc, char **argv) {
    if (!crash_reporting_available()) {
        shell_println(context.log(), "error: command not found");
        return;
    }
    if (argc != 2) {
        shell_println(context.log(), "%s", kCrashUsage);
        return;
    }
    if (strcmp(argv[1], "enable") == 0) {
        run_crash_tool(context.log(), "enable", "crash reporting enabled");
    } else if (strcmp(argv[1], "disable") == 0) {
        run_crash_tool(context.log(), "disable", "crash reporting disabled");
    } else if (strcmp(argv[1], "test") == 0) {
        shell_println(context.log(), "simulating crash to test crashreport");
        context.link().send_sys("crashtest");
    } else {
        shell_println(context.log(), "%s", kCrashUsage);
    }
}

void sys_cmd(CommandContext &context, int argc, char **argv) {
    if (argc < 2) return;
    char joined[kJoinedRoom];
    if (join_encoding_secrets(joined, argc - 1, argv + 1) != 0) {
        shell_println(context.log(), "%s", kSecretsTooLong);
        return;
    }
    context.link().send_sys(joined);
}

void shell_cmd(CommandContext &context, int, char **) {
    shell_println(context.log(), "error: command not found");
}
