#include "remote_session_client/transcript.h"

#include <string_view>
#include <utility>

namespace remote_session_client {

namespace {

// Sums the parts of an event; each event type lists its variable-sized
// members once, in the overload for its fields.
struct Footprint {
  std::size_t bytes = sizeof(TranscriptEvent);

  void add(std::string_view text) { bytes += text.size(); }
  void add(const CapsetListing& listing) { bytes += listing.text_bytes(); }
  void add(const std::vector<std::string>& texts) {
    bytes += texts.size() * sizeof(std::string);
    for (const std::string& text : texts) add(text);
  }
  template <typename... Parts>
  void add_all(const Parts&... parts) { (add(parts), ...); }

  void operator()(const event::Connect& e) { add(e.target); }
  void operator()(const event::Connected& e) { add(e.peer); }
  void operator()(const event::Request& e) { add(e.label); }
  void operator()(const event::Response& e) { add(e.label); }
  void operator()(const event::AuthMethods& e) { add(e.enabled_kinds); }
  void operator()(const event::SessionStarted& e) { add_all(e.profile, e.principal); }
  void operator()(const event::CapsetList& e) { add(e.entries); }
  void operator()(const event::CapGranted& e) { add(e.name); }
  void operator()(const event::SessionInfo& e) { add_all(e.profile, e.principal, e.auth_strength); }
  void operator()(const event::SystemMotd& e) { add(e.text); }
  void operator()(const event::Denied& e) { add_all(e.code, e.message); }
  void operator()(const event::Note& e) { add(e.text); }
};

}  // namespace

std::size_t footprint(const TranscriptEvent& event) {
  Footprint sum;
  std::visit(sum, event);
  return sum.bytes;
}

void Transcript::drop_oldest() {
  Slot& oldest = slots_[head_];
  bytes_ -= oldest.footprint;
  oldest = Slot{};
  head_ = head_ + 1 == slots_.size() ? 0 : head_ + 1;
  --size_;
  ++dropped_;
}

void Transcript::record(TranscriptEvent event) {
  // Oldest events go first, by count and by bytes: an unbounded log would let
  // a long-lived client, or one gateway answer of huge texts, grow without end.
  if (capacity_ == 0) {
    ++dropped_;
    return;
  }
  const std::size_t bytes = footprint(event);
  bytes_ += bytes;
  if (size_ == capacity_) {
    // Full: the newest takes the oldest's slot.
    bytes_ -= slots_[head_].footprint;
    slots_[head_].event = std::move(event);
    slots_[head_].footprint = bytes;
    head_ = head_ + 1 == slots_.size() ? 0 : head_ + 1;
    ++dropped_;
  } else {
    // The slot after the newest: reused, or appended while the ring is
    // still growing (it wraps only once it has all its slots).
    std::size_t at = head_ + size_;
    if (at >= capacity_) at -= capacity_;
    if (at < slots_.size()) {
      slots_[at].event = std::move(event);
      slots_[at].footprint = bytes;
    } else {
      slots_.push_back(Slot{std::move(event), bytes});
    }
    ++size_;
  }
  while (bytes_ > byte_budget_ && size_ > 1) drop_oldest();
}

std::string principal_label(const SessionInfoSummary& summary) {
  if (summary.principal_kind == "guest" || summary.principal_display_name.empty()) {
    return summary.principal_kind;
  }
  return summary.principal_kind + ":" + summary.principal_display_name;
}

}  // namespace remote_session_client
