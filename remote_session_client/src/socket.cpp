#include "remote_session_client/socket.h"

#include <unistd.h>

namespace remote_session_client {

void Socket::reset() {
  if (fd_ >= 0) {
    // close() may report EINTR, but on Linux the descriptor is released
    // anyway; retrying could close a descriptor another thread just opened.
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace remote_session_client
