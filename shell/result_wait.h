// Waiting for the one result line of a login or logout request. Main thread.
#pragma once

// Waits on sem_result until the listener reader has handed over a line. Gives up
// (false) as soon as no line can come any more: the application link or the listener
// reader has ended. max_wait_ms < 0 waits for as long as a line can still come.
bool wait_for_result_line(int max_wait_ms);
