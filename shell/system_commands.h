// Local commands that reach into the device: the boot environment, crash reporting,
// the application's internal command interpreter. Main thread.
#pragma once

// The build type fixed when the shell is built ("Release" for the product); it decides
// whether "crashreport" is available.
extern const char *const kBuildType;

struct CommandContext;

void setenv_cmd(CommandContext &context, int argc, char **argv);
void printenv_cmd(CommandContext &context, int argc, char **argv);
void crashreport_cmd(CommandContext &context, int argc, char **argv);
void sys_cmd(CommandContext &context, int argc, char **argv);
void shell_cmd(CommandContext &context, int argc, char **argv);
