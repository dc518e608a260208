// The transcript: an ordered, secret-free log of what a client did, oldest
// first. Events are appended and never rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "remote_session_client/records.h"

namespace remote_session_client {

namespace event {
struct Connect { std::string target; };
struct Connected { std::string peer; };
struct Request { std::string label; std::uint32_t seq = 0; };
struct Response { std::string label; std::uint32_t seq = 0; };  // label = kind name
struct AuthMethods { std::vector<std::string> enabled_kinds; std::size_t count = 0; };
struct SessionStarted { std::string profile; std::string principal; std::uint16_t summary_value = 0; };
struct CapsetList { std::vector<std::string> entries; std::size_t count = 0; };  // "name:0x<16 hex>"
struct CapGranted { std::string name; std::uint64_t interface_id = 0; };
struct SessionInfo { std::string profile; std::string principal; std::string auth_strength; };
struct SystemMotd { std::string text; };
struct Denied { std::string code; std::string message; std::uint32_t seq = 0; };
struct Note { std::string text; };
}  // namespace event

using TranscriptEvent = std::variant<
    event::Connect, event::Connected, event::Request, event::Response,
    event::AuthMethods, event::SessionStarted, event::CapsetList,
    event::CapGranted, event::SessionInfo, event::SystemMotd, event::Denied,
    event::Note>;

// A client lives as long as its Python object, which may make millions of
// calls; an unbounded log would be a leak. The transcript therefore keeps the
// newest events within two bounds, and counts the ones it let go: at most
// `capacity` events, and at most `byte_budget` bytes by each event's
// footprint (below). The count alone would not bound memory: one CapsetList
// event holds a text per CapSet entry, so 4,096 of them can hold gigabytes.
class Transcript {
 public:
  static constexpr std::size_t kDefaultCapacity = 4096;
  // As much as the largest answer the client accepts by default
  // (max_frame_len), so the log never outweighs one exchange: room for a
  // full ring of ordinary events (a few hundred bytes each, about 0.6 MiB)
  // and for the listing of a CapSet of some 15,000 entries.
  static constexpr std::size_t kDefaultByteBudget = 1024 * 1024;

  explicit Transcript(std::size_t capacity = kDefaultCapacity,
                      std::size_t byte_budget = kDefaultByteBudget)
      : capacity_(capacity), byte_budget_(byte_budget) {}

  // Appends, then drops the oldest events while either bound is exceeded.
  // An event larger than the byte budget on its own is still kept, alone,
  // until the next one arrives: the newest event is never lost to the budget.
  void record(TranscriptEvent event);

  const std::deque<TranscriptEvent>& events() const { return events_; }
  std::size_t dropped() const { return dropped_; }
  std::size_t capacity() const { return capacity_; }
  std::size_t byte_budget() const { return byte_budget_; }
  // The summed footprints of the events held.
  std::size_t bytes() const { return bytes_; }

 private:
  std::deque<TranscriptEvent> events_;
  std::size_t capacity_;
  std::size_t byte_budget_;
  std::size_t bytes_ = 0;
  std::size_t dropped_ = 0;
};

// What an event holds, approximately: the event itself, the bytes of its
// strings and a string object per list element. Allocator overhead and short
// strings stored inline are not told apart; the bound needs the order of
// magnitude, not the exact figure.
std::size_t footprint(const TranscriptEvent& event);

// The principal kind alone if it is exactly "guest" or the display name is
// empty; otherwise kind, a colon and the display name ("human:console").
std::string principal_label(const SessionInfoSummary& summary);

}  // namespace remote_session_client
