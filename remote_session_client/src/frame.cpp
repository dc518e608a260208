#include "remote_session_client/frame.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

#include "frame_internal.h"

namespace remote_session_client {

namespace frame_detail {

std::expected<std::size_t, FrameError> checked_length(const std::uint8_t* prefix, std::size_t limit) {
  const std::size_t length = (std::size_t{prefix[0]} << 24) | (std::size_t{prefix[1]} << 16) |
                             (std::size_t{prefix[2]} << 8) | std::size_t{prefix[3]};
  if (length == 0) return std::unexpected(FrameError{FrameError::Empty{}});
  if (length > limit) return std::unexpected(FrameError{FrameError::TooLarge{length, limit}});
  return length;
}

std::expected<std::size_t, IoError> receive_some(int fd, std::uint8_t* dest, std::size_t room) {
  for (;;) {
    const ssize_t got = ::recv(fd, dest, room, 0);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got == 0) return std::unexpected(IoError::made(IoError::Kind::UnexpectedEof));
    if (errno != EINTR) return std::unexpected(IoError::os(errno));
  }
}

}  // namespace frame_detail

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

// Fills `length` bytes at `dest`, or fails; a peer that closes early is an
// unexpected end of file.
std::expected<void, IoError> receive_exact(int fd, std::uint8_t* dest, std::size_t length) {
  for (std::size_t filled = 0; filled < length;) {
    auto got = frame_detail::receive_some(fd, dest + filled, length - filled);
    if (!got) return std::unexpected(std::move(got.error()));
    filled += *got;
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
  auto length = frame_detail::checked_length(prefix, limit);
  if (!length) return std::unexpected(std::move(length.error()));

  Bytes payload(*length);
  if (auto got = receive_exact(fd, payload.data(), *length); !got) return io_failure(got.error());
  return payload;
}

}  // namespace remote_session_client
