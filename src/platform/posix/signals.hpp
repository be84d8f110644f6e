// Flags raised by the POSIX signal handlers; the handlers do nothing else.
#pragma once

namespace tapewren::posix {

// A termination signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT) or a job-control stop/continue
// is waiting to be handled: blocking reads give up early so that the loop can see it.
bool signal_waiting();

// Takes a pending Ctrl-Z (SIGTSTP) / continue (SIGCONT) notice.
bool take_stop_request();
bool take_continued();

// Stops the process the way Ctrl-Z would have; returns once it is continued.
void stop_self();

}  // namespace tapewren::posix
