// An owning file descriptor and the blocking send/receive loops that the
// canned gateway and the floor client share.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace orvik_bench {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

// Sends all of `data` with as few calls as the kernel allows (one, unless the
// socket buffer fills). False when the peer is gone or the call fails.
inline bool send_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// One recv of at most `capacity` bytes; 0 at end of stream, -1 on error.
inline ssize_t recv_some(int fd, std::uint8_t* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::recv(fd, buffer, capacity, 0);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

}  // namespace orvik_bench
