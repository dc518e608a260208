#include "remote_session_client/owner_process.h"

#include <sys/types.h>
#include <unistd.h>

#include <type_traits>

namespace remote_session_client {

static_assert(std::is_same_v<pid_t, int>, "OwnerProcess keeps the process id as an int");

// getpid() is asked each time rather than cached by a fork handler: a child
// made by a raw clone or vfork runs no handler, and one system call beside
// the two that move each exchange's frames costs next to nothing.
OwnerProcess::OwnerProcess() : pid_(::getpid()) {}

bool OwnerProcess::is_current() const { return ::getpid() == pid_; }

}  // namespace remote_session_client
