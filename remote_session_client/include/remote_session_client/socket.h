// An owned socket file descriptor.
#pragma once

#include <utility>

#include "remote_session_client/export.h"

namespace remote_session_client {

class RSC_API Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { reset(); }

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset();  // closes, if open

 private:
  int fd_ = -1;
};

}  // namespace remote_session_client
