#include "remote_session_client/frame.h"

#include <cstdint>
#include <limits>
#include <span>
#include <utility>

#include "frame_internal.h"
#include "remote_session_client/byte_stream.h"
#include "socket_stream.h"

namespace remote_session_client {

namespace {

using frame_detail::kPrefixLen;

// Drops `sent` bytes from the front of the parts, skipping the ones that are
// now empty, so the next write resumes where this one ended.
std::span<ByteView> advance(std::span<ByteView> parts, std::size_t sent) {
  while (!parts.empty() && sent >= parts.front().size()) {
    sent -= parts.front().size();
    parts = parts.subspan(1);
  }
  if (!parts.empty()) parts.front() = parts.front().subspan(sent);
  return parts;
}

}  // namespace

std::expected<void, FrameError> write_frame(ByteStream& stream, ByteView payload) {
  if (payload.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(FrameError{FrameError::LengthOverflow{payload.size()}});
  }
  if (payload.empty()) return std::unexpected(FrameError{FrameError::Empty{}});

  const auto length = static_cast<std::uint32_t>(payload.size());
  const std::uint8_t prefix[kPrefixLen] = {
      static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
      static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};

  // One write per frame, not a write of the prefix and a write of the
  // payload: the second would wait under Nagle's algorithm for the ACK of
  // the first, which the peer delays. The payload is sent uncopied.
  ByteView storage[2] = {ByteView(prefix, kPrefixLen), payload};
  std::span<ByteView> parts(storage);
  // Once part of the frame went out, a failure leaves the peer inside it.
  bool started = false;
  while (!parts.empty()) {
    auto sent = stream.write_some(parts);
    if (!sent || *sent == 0) {
      IoError error = sent ? IoError::made(IoError::Kind::WriteZero) : std::move(sent.error());
      return std::unexpected(FrameError{FrameError::Io{std::move(error)}, started});
    }
    started = true;
    parts = advance(parts, *sent);
  }
  return {};
}

std::expected<void, FrameError> write_frame(int fd, ByteView payload) {
  SocketStream stream(fd);
  return write_frame(stream, payload);
}

}  // namespace remote_session_client
