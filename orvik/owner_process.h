// OwnerProcess: the process a Client was created in, and the one text that
// refuses every other.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include "pyref.h"

namespace orvik {

// A child made by fork() inherits the Client with its socket and its sequence
// counter. Were both processes to send on it, each would read the other's
// answers, or both would fall out of step, often without any error. So only
// the creating process may talk on the connection. The child may still read
// what it inherited (nothing is sent), and releasing its copy only closes
// the child's own descriptor, which leaves the parent's connection alone.
class OwnerProcess {
 public:
  OwnerProcess() : pid_(current_pid()) {}

  // Whether the caller runs in the creating process; when not, a
  // RuntimeError has been set.
  bool check() const {
    if (current_pid() == pid_) return true;
    PyErr_SetString(PyExc_RuntimeError,
                    "Client was created in another process; create a new Client in this process");
    return false;
  }

 private:
  // getpid() is a system call, and every sending call asks; the answer only
  // changes at fork, so it is read once and again in each child.
  static pid_t current_pid() {
    static pid_t pid = [] {
      ::pthread_atfork(nullptr, nullptr, [] { pid = ::getpid(); });
      return ::getpid();
    }();
    return pid;
  }

  pid_t pid_;
};

}  // namespace orvik
