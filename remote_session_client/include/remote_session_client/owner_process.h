// OwnerProcess: the process something was created in. A child made by fork()
// inherits the connection with its socket, its sequence counter and its TLS
// session; were both processes to write on it, each would read the other's
// answers or break the session. So only the creating process sends, and a
// child releasing its copy closes its own descriptor and says nothing.
#pragma once

#include "remote_session_client/export.h"

namespace remote_session_client {

class RSC_API OwnerProcess {
 public:
  OwnerProcess();
  // Whether the caller runs in the creating process.
  bool is_current() const;

 private:
  int pid_ = 0;  // a pid_t, which is an int on every Linux target
};

}  // namespace remote_session_client
