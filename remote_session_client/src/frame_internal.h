// What the writing and the reading side of the frame module share.
#pragma once

#include <cstddef>

namespace remote_session_client::frame_detail {

inline constexpr std::size_t kPrefixLen = 4;

}  // namespace remote_session_client::frame_detail
