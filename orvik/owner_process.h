// OwnerProcess: the process a Client was created in, and the one text that
// refuses every other.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include "pyref.h"

namespace orvik {

namespace owner_detail {

// The running process's pid. getpid() is a system call, and every sending
// call asks; the answer only changes at fork, so a fork handler keeps this
// up to date instead. 0 until track_forks() first ran.
inline pid_t current_pid = 0;

// Reads the pid and installs the fork handler, once: later calls do
// nothing. Called under the interpreter lock, so two callers never race.
inline void track_forks() {
  if (current_pid != 0) return;
  current_pid = ::getpid();
  ::pthread_atfork(nullptr, nullptr, [] { current_pid = ::getpid(); });
}

}  // namespace owner_detail

// A child made by fork() inherits the Client with its socket and its sequence
// counter. Were both processes to send on it, each would read the other's
// answers, or both would fall out of step, often without any error. So only
// the creating process may talk on the connection. The child may still read
// what it inherited (nothing is sent), and releasing its copy only closes
// the child's own descriptor, which leaves the parent's connection alone.
class OwnerProcess {
 public:
  OwnerProcess() {
    owner_detail::track_forks();
    pid_ = owner_detail::current_pid;
  }

  // Whether the caller runs in the creating process.
  bool is_current() const { return owner_detail::current_pid == pid_; }

  // is_current(); when not, a RuntimeError has been set.
  bool check() const {
    if (is_current()) return true;
    PyErr_SetString(PyExc_RuntimeError,
                    "Client was created in another process; create a new Client in this process");
    return false;
  }

 private:
  pid_t pid_ = 0;
};

}  // namespace orvik
