#include "time_limits.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <limits>

namespace remote_session_client {

namespace {

constexpr std::uint64_t kNanosPerSec = 1'000'000'000;
constexpr std::uint64_t kMaxTimeT = static_cast<std::uint64_t>(std::numeric_limits<time_t>::max());

}  // namespace

MonotonicClock::time_point saturating_deadline(MonotonicClock::time_point now, Duration span) {
  const auto headroom = MonotonicClock::time_point::max() - now;
  const auto headroom_ns = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(headroom).count());
  if (span.secs > headroom_ns / kNanosPerSec) return MonotonicClock::time_point::max();
  const std::uint64_t span_ns = span.secs * kNanosPerSec + span.nanos;
  if (span_ns > headroom_ns) return MonotonicClock::time_point::max();
  return now + std::chrono::duration_cast<MonotonicClock::duration>(
                   std::chrono::nanoseconds(static_cast<std::int64_t>(span_ns)));
}

int poll_timeout_ms(MonotonicClock::time_point now, MonotonicClock::time_point deadline) {
  if (deadline <= now) return 0;
  const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return remaining > INT_MAX ? INT_MAX : static_cast<int>(remaining);
}

timeval socket_timeout(Duration span) {
  std::uint64_t secs = span.secs;
  std::uint64_t micros = (std::uint64_t{span.nanos} + 999) / 1000;
  if (micros >= 1'000'000) {
    secs += micros / 1'000'000;
    micros %= 1'000'000;
  }
  if (secs == 0 && micros == 0) micros = 1;
  if (secs > kMaxTimeT || secs < span.secs) return timeval{std::numeric_limits<time_t>::max(), 999'999};
  return timeval{static_cast<time_t>(secs), static_cast<suseconds_t>(micros)};
}

void sleep_for(Duration span) {
  timespec remaining{};
  if (span.secs > kMaxTimeT) {
    remaining = timespec{std::numeric_limits<time_t>::max(), 999'999'999};
  } else {
    remaining = timespec{static_cast<time_t>(span.secs),
                         static_cast<long>(span.nanos % kNanosPerSec)};
  }
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace remote_session_client
