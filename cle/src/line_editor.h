// The editor proper: reads one line with its keys, and the editor's life from init to
// cleanup.
#pragma once

namespace cle {

int init(int idle_minutes);
int cleanup();
int get_command_line(const char *prompt, char *buffer, int max_len);
int refresh_line();

}  // namespace cle
