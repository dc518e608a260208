#include "remote_session_client/frame.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace remote_session_client {

namespace {

constexpr std::size_t kPrefixLen = 4;

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

// Fills `length` bytes at `dest`, or fails; a peer that closes early is an
// unexpected end of file.
std::expected<void, IoError> receive_exact(int fd, std::uint8_t* dest, std::size_t length) {
  std::size_t filled = 0;
  while (filled < length) {
    const ssize_t got = ::recv(fd, dest + filled, length - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::os(errno));
    }
    if (got == 0) return std::unexpected(IoError::made(IoError::Kind::UnexpectedEof));
    filled += static_cast<std::size_t>(got);
  }
  return {};
}

}  // namespace

std::expected<void, FrameError> write_frame(int fd, ByteView payload) {
  if (payload.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(FrameError{FrameError::LengthOverflow{payload.size()}});
  }
  if (payload.empty()) return std::unexpected(FrameError{FrameError::Empty{}});

  const auto length = static_cast<std::uint32_t>(payload.size());
  std::uint8_t prefix[kPrefixLen] = {
      static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
      static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};

  // Prefix and payload leave in one sendmsg: sent as two writes, the payload
  // would wait under Nagle's algorithm for the ACK of the prefix, which the
  // peer delays. The payload is sent from the caller's buffer, uncopied.
  iovec parts[2] = {
      {prefix, kPrefixLen},
      {const_cast<std::uint8_t*>(payload.data()), payload.size()},
  };
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;

  while (message.msg_iovlen > 0) {
    // MSG_NOSIGNAL: a closed peer is an EPIPE error, not a SIGPIPE.
    const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return io_failure(IoError::os(errno));
    }
    if (sent == 0) return io_failure(IoError::made(IoError::Kind::WriteZero));
    advance(message, static_cast<std::size_t>(sent));
  }
  return {};
}

std::expected<Bytes, FrameError> read_frame(int fd, std::size_t limit) {
  std::uint8_t prefix[kPrefixLen];
  if (auto got = receive_exact(fd, prefix, kPrefixLen); !got) return io_failure(got.error());

  const std::size_t length = (std::size_t{prefix[0]} << 24) | (std::size_t{prefix[1]} << 16) |
                             (std::size_t{prefix[2]} << 8) | std::size_t{prefix[3]};
  if (length == 0) return std::unexpected(FrameError{FrameError::Empty{}});
  // Checked before allocating: the prefix alone could ask for 4 GiB.
  if (length > limit) return std::unexpected(FrameError{FrameError::TooLarge{length, limit}});

  Bytes payload(length);
  if (auto got = receive_exact(fd, payload.data(), length); !got) return io_failure(got.error());
  return payload;
}

}  // namespace remote_session_client
