// Logging the user in through the application and recording the outcome for the
// device's user interface. Main thread.
#pragma once

// 1 when the user is logged in or no login is needed, 0 when the login failed.
int authenticate_user(char *current_user, char *current_pwd, int inDoDMode);

// Records the client's address and the login outcome (auth_result 0: success) in the
// settings of the session type; other types record nothing.
void update_ui_login_params(int auth_result, const char *shell_type);

// Records a failed login and withdraws the session.
void update_unsuccessful_login(const char *shell_type);
