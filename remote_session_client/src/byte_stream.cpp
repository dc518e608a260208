// What every ByteStream shares: writing all of a buffer, and waiting for a
// descriptor within a deadline.
#include "remote_session_client/byte_stream.h"

#include <poll.h>

#include <cerrno>

#include "time_limits.h"

namespace remote_session_client {

std::expected<void, IoError> ByteStream::write_all(ByteView bytes) {
  while (!bytes.empty()) {
    const ByteView parts[] = {bytes};
    auto sent = write_some(parts);
    if (!sent) return std::unexpected(std::move(sent.error()));
    if (*sent == 0) return std::unexpected(IoError::made(IoError::Kind::WriteZero));
    bytes = bytes.subspan(*sent);
  }
  return {};
}

IoClock::time_point io_deadline(Duration span) { return saturating_deadline(IoClock::now(), span); }

std::expected<void, IoError> wait_ready(int fd, short events, IoClock::time_point deadline) {
  for (;;) {
    pollfd ready{fd, events, 0};
    const int rc = ::poll(&ready, 1, poll_timeout_ms(IoClock::now(), deadline));
    // An error or hang-up condition is reported by the call that follows.
    if (rc > 0) return {};
    if (rc < 0 && errno != EINTR) return std::unexpected(IoError::os(errno));
    if (rc == 0 && IoClock::now() >= deadline) return std::unexpected(IoError::os(EAGAIN));
  }
}

}  // namespace remote_session_client
