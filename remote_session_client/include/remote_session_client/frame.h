// Frames on the gateway byte stream: a 4-byte big-endian payload length, then
// the payload (one flat-serialised Cap'n Proto message). This module moves
// bytes and nothing else: no deadlines, no retries, no knowledge of messages.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <variant>

#include "remote_session_client/bytes.h"
#include "remote_session_client/io_error.h"

namespace remote_session_client {

struct FrameError {
  struct Io { IoError error; };
  struct Empty {};
  struct TooLarge { std::size_t length; std::size_t limit; };
  struct LengthOverflow { std::size_t length; };

  std::variant<Io, Empty, TooLarge, LengthOverflow> value;
};

// "frame I/O failed: ...", "empty Cap'n Proto frame is invalid", ...
std::string to_string(const FrameError& error);

// Writes one frame on a blocking, connected socket. The prefix and the payload
// leave in one scatter-gather send (two iovecs), so Nagle's algorithm never
// holds the payload back behind the peer's delayed ACK. EINTR is retried.
std::expected<void, FrameError> write_frame(int fd, ByteView payload);

// Reads one frame. A length above `limit` is refused before anything is
// allocated for it, so a hostile prefix cannot make us allocate 4 GiB.
std::expected<Bytes, FrameError> read_frame(int fd, std::size_t limit);

}  // namespace remote_session_client
