// Logging the user in through the application and recording the outcome for the
// device's user interface. Main thread.
#pragma once

struct Session;
struct LoopState;

// True when the user logged in or no login is needed (loop.user is then the user name).
bool authenticate_user(Session &session, LoopState &loop);

// Records the client's address and the login outcome in the settings of the session
// type (telnet and api sessions; others record nothing).
void update_ui_login_params(Session &session, bool logged_in);

// Records a failed login and withdraws the session.
void update_unsuccessful_login(Session &session);
