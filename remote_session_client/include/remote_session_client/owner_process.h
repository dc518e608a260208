// OwnerProcess: the process something was created in. A child made by fork()
// inherits the connection with its socket, its sequence counter and its TLS
// session; were both processes to write on it, each would read the other's
// answers or break the session. So only the creating process sends, and a
// child releasing its copy closes its own descriptor and says nothing.
#pragma once

#include <sys/types.h>

namespace remote_session_client {

class OwnerProcess {
 public:
  OwnerProcess();
  // Whether the caller runs in the creating process.
  bool is_current() const;

 private:
  pid_t pid_ = 0;
};

}  // namespace remote_session_client
