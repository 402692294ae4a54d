// Device settings: read through the configuration tool, written through the
// application. Main thread.
#pragma once

#include <stddef.h>

class AppLink;

// Reads setting configName into configValue (room for size bytes, size >= 1).
// 0 with the value (empty when the tool cannot run or says nothing); 1 with an empty
// value when the tool's answer is not of the expected form, or when the tool gave no
// answer within 10 seconds and was stopped.
int get_config_value(const char *configName, char *configValue, int size);
// The pure half of get_config_value: takes the first line of the tool's answer
// (NUL-terminated) apart; same results. Any thread.
int parse_config_answer(const char *configName, const char *answer, char *configValue, int size);

// Writes a setting through the application ("execwithoutecho systemsetting NAME VALUE")
// and waits for its reply. Nothing is sent for a null argument or an empty name.
// farewell_step marks the line as a step of the session's end (FarewellStep, app_link.h).
void vela_cfg_write(AppLink &link, const char *param_name, const char *param_value,
                    unsigned farewell_step = 0);
// The line vela_cfg_write sends (before its "E: "), cut to 191 characters, into line
// (room bytes, the caller's). Any thread.
void format_setting_write(char *line, size_t room, const char *param_name, const char *param_value);
