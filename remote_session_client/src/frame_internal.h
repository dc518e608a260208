// The pieces read_frame and FrameReader share, so that both read the prefix,
// check the length and receive in exactly one way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>

#include "remote_session_client/frame.h"
#include "remote_session_client/io_error.h"

namespace remote_session_client::frame_detail {

inline constexpr std::size_t kPrefixLen = 4;

// The payload length a complete prefix announces, checked in the order that
// decides the error: zero length first, then the limit. Nothing may be
// allocated for a frame before this passed: the prefix alone could ask for
// 4 GiB.
std::expected<std::size_t, FrameError> checked_length(const std::uint8_t* prefix, std::size_t limit);

// One recv into `dest` (room > 0): the count received, never 0. EINTR is
// retried; a peer that closed is an unexpected end of file, since every
// caller is still missing bytes of a frame.
std::expected<std::size_t, IoError> receive_some(int fd, std::uint8_t* dest, std::size_t room);

}  // namespace remote_session_client::frame_detail
