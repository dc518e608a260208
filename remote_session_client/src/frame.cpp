#include "remote_session_client/frame.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

#include "frame_internal.h"

namespace remote_session_client {

namespace {

using frame_detail::kPrefixLen;

std::unexpected<FrameError> io_failure(IoError error) {
  return std::unexpected(FrameError{FrameError::Io{std::move(error)}});
}

// Drops `sent` bytes from the front of the message's iovecs, skipping the
// ones that are now empty, so the next sendmsg resumes where this one ended.
void advance(msghdr& message, std::size_t sent) {
  while (message.msg_iovlen > 0 && sent >= message.msg_iov->iov_len) {
    sent -= message.msg_iov->iov_len;
    ++message.msg_iov;
    --message.msg_iovlen;
  }
  if (message.msg_iovlen > 0) {
    message.msg_iov->iov_base = static_cast<std::uint8_t*>(message.msg_iov->iov_base) + sent;
    message.msg_iov->iov_len -= sent;
  }
}

}  // namespace

std::expected<void, FrameError> write_frame(int fd, ByteView payload) {
  return FrameWriter{}.write(fd, payload);
}

std::expected<void, FrameError> FrameWriter::write(int fd, ByteView payload) {
  if (payload.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(FrameError{FrameError::LengthOverflow{payload.size()}});
  }
  if (payload.empty()) return std::unexpected(FrameError{FrameError::Empty{}});

  const auto length = static_cast<std::uint32_t>(payload.size());
  std::uint8_t prefix[kPrefixLen] = {
      static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
      static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};

  // One sendmsg per frame, not a write of the prefix and a write of the
  // payload: the second write would wait under Nagle's algorithm for the ACK
  // of the first, which the peer delays. The payload is sent uncopied.
  iovec parts[2] = {
      {prefix, kPrefixLen},
      {const_cast<std::uint8_t*>(payload.data()), payload.size()},
  };
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;

  // Once part of the frame went out, a failure leaves the peer inside it.
  bool started = false;
  auto failure = [&](IoError error) {
    if (started) at_boundary_ = false;
    return io_failure(std::move(error));
  };
  while (message.msg_iovlen > 0) {
    // MSG_NOSIGNAL: a closed peer is an EPIPE error, not a SIGPIPE.
    const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return failure(IoError::os(errno));
    }
    if (sent == 0) return failure(IoError::made(IoError::Kind::WriteZero));
    started = true;
    advance(message, static_cast<std::size_t>(sent));
  }
  return {};
}

}  // namespace remote_session_client
