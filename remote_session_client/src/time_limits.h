// Turning a configured Duration (any unsigned 64-bit millisecond count) into
// what the clock, poll, nanosleep and the socket time-outs take. Every
// conversion saturates: a duration too long to represent means "never" in
// practice, and must not wrap into a short or negative one.
#pragma once

#include <sys/time.h>

#include <chrono>

#include "remote_session_client/config.h"

namespace remote_session_client {

using MonotonicClock = std::chrono::steady_clock;

// now + span, or the clock's last representable instant if that overflows.
MonotonicClock::time_point saturating_deadline(MonotonicClock::time_point now, Duration span);

// Milliseconds from now until deadline for poll(): rounded up, so a wait never
// ends before the deadline; 0 once it has passed; at most INT_MAX, so a far
// deadline takes several waits.
int poll_timeout_ms(MonotonicClock::time_point now, MonotonicClock::time_point deadline);

// A non-zero duration as SO_RCVTIMEO / SO_SNDTIMEO take it: rounded up to a
// whole microsecond (a zero timeval would mean "no time-out" to the kernel)
// and clamped to the largest seconds value a timeval holds, which the kernel
// treats as waiting forever.
timeval socket_timeout(Duration span);

// Sleeps for the whole span, resuming after signals; a span beyond the
// timespec range sleeps for the longest one.
void sleep_for(Duration span);

}  // namespace remote_session_client
