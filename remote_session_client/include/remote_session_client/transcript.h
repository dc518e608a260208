// The transcript: an ordered, secret-free log of what a client did, oldest
// first. Events are appended and never rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "remote_session_client/capset_listing.h"
#include "remote_session_client/export.h"
#include "remote_session_client/records.h"

namespace remote_session_client {

namespace event {
struct Connect { std::string target; };
struct Connected { std::string peer; };
struct Request { std::string label; std::uint32_t seq = 0; };
struct Response { std::string label; std::uint32_t seq = 0; };  // label = kind name
struct AuthMethods { std::vector<std::string> enabled_kinds; std::size_t count = 0; };
struct SessionStarted { std::string profile; std::string principal; std::uint16_t summary_value = 0; };
struct CapsetList { CapsetListing entries; std::size_t count = 0; };  // "name:0x<16 hex>" each
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
//
// The events live in a ring of slots that grows to `capacity` once and is
// then reused: a client recording three events per call does not allocate
// and free container blocks as it goes.
class RSC_API Transcript {
  // An event and its footprint, computed once when it is recorded.
  struct Slot {
    TranscriptEvent event;
    std::size_t footprint = 0;
  };

 public:
  // The events held, oldest first: a view of the ring, valid until the next
  // record(). Its iterators carry the ring themselves, not the view, so they
  // stay valid when the view was a temporary (t.events().begin()).
  class Events {
   public:
    class iterator {
     public:
      using iterator_category = std::random_access_iterator_tag;
      using value_type = TranscriptEvent;
      using difference_type = std::ptrdiff_t;
      using pointer = const TranscriptEvent*;
      using reference = const TranscriptEvent&;

      iterator() = default;
      iterator(const std::vector<Slot>* slots, std::size_t head, std::size_t at)
          : slots_(slots), head_(head), at_(at) {}
      reference operator*() const { return event_at(*slots_, head_, at_); }
      pointer operator->() const { return &**this; }
      reference operator[](difference_type n) const { return *(*this + n); }
      iterator& operator++() { ++at_; return *this; }
      iterator operator++(int) { iterator was = *this; ++at_; return was; }
      iterator& operator--() { --at_; return *this; }
      iterator operator--(int) { iterator was = *this; --at_; return was; }
      iterator& operator+=(difference_type n) { at_ += static_cast<std::size_t>(n); return *this; }
      iterator& operator-=(difference_type n) { at_ -= static_cast<std::size_t>(n); return *this; }
      friend iterator operator+(iterator it, difference_type n) { return it += n; }
      friend iterator operator+(difference_type n, iterator it) { return it += n; }
      friend iterator operator-(iterator it, difference_type n) { return it -= n; }
      friend difference_type operator-(const iterator& a, const iterator& b) {
        return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
      }
      friend bool operator==(const iterator& a, const iterator& b) { return a.at_ == b.at_; }
      friend auto operator<=>(const iterator& a, const iterator& b) { return a.at_ <=> b.at_; }

     private:
      const std::vector<Slot>* slots_ = nullptr;
      std::size_t head_ = 0;
      std::size_t at_ = 0;
    };
    using const_iterator = iterator;

    Events(const std::vector<Slot>& slots, std::size_t head, std::size_t size)
        : slots_(&slots), head_(head), size_(size) {}
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const TranscriptEvent& operator[](std::size_t i) const { return event_at(*slots_, head_, i); }
    const TranscriptEvent& front() const { return (*this)[0]; }
    const TranscriptEvent& back() const { return (*this)[size_ - 1]; }
    iterator begin() const { return iterator(slots_, head_, 0); }
    iterator end() const { return iterator(slots_, head_, size_); }

   private:
    // The i-th event from the oldest, which sits in slot `head`.
    static const TranscriptEvent& event_at(const std::vector<Slot>& slots, std::size_t head, std::size_t i) {
      const std::size_t at = head + i;
      return slots[at < slots.size() ? at : at - slots.size()].event;
    }

    const std::vector<Slot>* slots_;
    std::size_t head_;
    std::size_t size_;
  };

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

  Events events() const { return Events(slots_, head_, size_); }
  std::size_t dropped() const { return dropped_; }
  std::size_t capacity() const { return capacity_; }
  std::size_t byte_budget() const { return byte_budget_; }
  // The summed footprints of the events held.
  std::size_t bytes() const { return bytes_; }

 private:
  // Removes the oldest event, releasing what it held.
  void drop_oldest();

  std::vector<Slot> slots_;  // grows to capacity_, then reused
  std::size_t head_ = 0;                // the oldest event's slot
  std::size_t size_ = 0;                // events held
  std::size_t capacity_;
  std::size_t byte_budget_;
  std::size_t bytes_ = 0;
  std::size_t dropped_ = 0;
};

// What an event holds, approximately: the event itself, the bytes of its
// strings and a string object per list element. Allocator overhead and short
// strings stored inline are not told apart; the bound needs the order of
// magnitude, not the exact figure. A CapSet listing is charged as the texts
// it shows (CapsetListing::text_bytes), about twice what it holds packed: the
// budget then also bounds what a reader of the whole transcript gets back,
// and keeps as many listings as when they were held as texts.
RSC_API std::size_t footprint(const TranscriptEvent& event);

// The principal kind alone if it is exactly "guest" or the display name is
// empty; otherwise kind, a colon and the display name ("human:console").
RSC_API std::string principal_label(const SessionInfoSummary& summary);

}  // namespace remote_session_client
