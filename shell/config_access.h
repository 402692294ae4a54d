// Device settings: read through the configuration tool, written through the
// application. Plus the terminal echo switch and running a command line. Main thread.
#pragma once

// Reads setting configName into configValue (room for size bytes, size >= 1).
// 0 with the value (empty when the tool cannot run or says nothing); 1 with an empty
// value when the tool's answer is not of the expected form.
int get_config_value(const char *configName, char *configValue, int size);

// Writes a setting through the application ("execwithoutecho systemsetting NAME VALUE")
// and waits for its reply. Nothing is sent for a null argument or an empty name.
void vela_cfg_write(const char *param_name, const char *param_value);

// Switches the terminal's own echo of standard input on (non-zero) or off; 0 on
// success, 1 on failure after printing the system error.
int set_tty_echo(short enable);

// Runs command through "/bin/sh -c" and waits for it; the raw wait status, or -1.
int system_pthread(const char *command);
