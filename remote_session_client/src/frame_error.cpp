#include "remote_session_client/frame.h"

#include <type_traits>

namespace remote_session_client {

std::string to_string(const FrameError& error) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, FrameError::Io>) {
          return "frame I/O failed: " + to_string(e.error);
        } else if constexpr (std::is_same_v<E, FrameError::Empty>) {
          return "empty Cap'n Proto frame is invalid";
        } else if constexpr (std::is_same_v<E, FrameError::TooLarge>) {
          return "Cap'n Proto frame length " + std::to_string(e.length) + " exceeds limit " +
                 std::to_string(e.limit);
        } else {
          static_assert(std::is_same_v<E, FrameError::LengthOverflow>);
          return "Cap'n Proto frame length " + std::to_string(e.length) + " does not fit in u32";
        }
      },
      error.value);
}

}  // namespace remote_session_client
