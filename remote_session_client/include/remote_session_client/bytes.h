// Owned and borrowed byte sequences.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace remote_session_client {

// An owned byte sequence. Buffers come from operator new, so data() is aligned
// for Cap'n Proto words (16 bytes on the platforms we build for).
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace remote_session_client
