#include <algorithm>
#include <cstring>
#include <utility>

#include "frame_internal.h"
#include "remote_session_client/frame.h"

namespace remote_session_client {

namespace {

using frame_detail::kPrefixLen;

// Every frame starts at byte 4 of the buffer, so that its payload starts at
// byte 8, on a word boundary: the decoder reads it in place instead of
// copying it to aligned memory.
constexpr std::size_t kPrefixAt = 4;
constexpr std::size_t kPayloadAt = kPrefixAt + kPrefixLen;
constexpr std::size_t kWordBytes = sizeof(std::uint64_t);

// The first buffer: the retained size, or less if no frame could need it.
// Written so that a limit near SIZE_MAX cannot overflow.
std::size_t first_capacity(std::size_t limit) {
  return kPayloadAt + std::min(limit, FrameReader::kRetainedCapacity - kPayloadAt);
}

}  // namespace

FrameReader::FrameReader(FrameReader&& other) noexcept
    : words_(std::move(other.words_)),
      capacity_(std::exchange(other.capacity_, 0)),
      begin_(std::exchange(other.begin_, 0)),
      end_(std::exchange(other.end_, 0)) {}

FrameReader& FrameReader::operator=(FrameReader&& other) noexcept {
  if (this != &other) {
    words_ = std::move(other.words_);
    capacity_ = std::exchange(other.capacity_, 0);
    begin_ = std::exchange(other.begin_, 0);
    end_ = std::exchange(other.end_, 0);
  }
  return *this;
}

// A new buffer of at least `bytes`, holding the unconsumed bytes at the frame
// start. Left uninitialised: every byte is received before it is read.
void FrameReader::restart(std::size_t bytes) {
  const std::size_t words = (bytes + kWordBytes - 1) / kWordBytes;
  auto fresh = std::make_unique_for_overwrite<std::uint64_t[]>(words);
  const std::size_t kept = buffered();
  if (kept > 0) {
    std::memcpy(reinterpret_cast<std::uint8_t*>(fresh.get()) + kPrefixAt,
                reinterpret_cast<const std::uint8_t*>(words_.get()) + begin_, kept);
  }
  words_ = std::move(fresh);
  capacity_ = words * kWordBytes;
  begin_ = kPrefixAt;
  end_ = kPrefixAt + kept;
}

void FrameReader::trim() {
  // What is kept past a grown buffer's frame is a few bytes of word padding
  // at most, but a reader that ever holds more keeps its buffer.
  if (capacity_ > kRetainedCapacity && kPrefixAt + buffered() <= kRetainedCapacity) {
    restart(kRetainedCapacity);
  }
}

std::expected<ByteView, FrameError> FrameReader::read(int fd, std::size_t limit) {
  if (!words_) restart(first_capacity(limit));
  auto* bytes = reinterpret_cast<std::uint8_t*>(words_.get());
  if (begin_ != kPrefixAt) {
    // Usually nothing is left; otherwise the start of a later frame, which
    // moves down to the aligned frame start.
    const std::size_t kept = buffered();
    std::memmove(bytes + kPrefixAt, bytes + begin_, kept);
    begin_ = kPrefixAt;
    end_ = kPrefixAt + kept;
  }

  // One recv for as much as has arrived and fits. A failed receive drops
  // the frame's bytes so far, as read_frame's would have: nothing is
  // resynchronised differently.
  auto receive = [&]() -> std::expected<void, IoError> {
    auto got = frame_detail::receive_some(fd, bytes + end_, capacity_ - end_);
    if (!got) {
      begin_ = end_ = kPrefixAt;
      return std::unexpected(std::move(got.error()));
    }
    end_ += *got;
    return {};
  };
  auto io_failure = [](IoError error) {
    return std::unexpected(FrameError{FrameError::Io{std::move(error)}});
  };

  while (buffered() < kPrefixLen) {
    if (auto got = receive(); !got) return io_failure(std::move(got.error()));
  }
  auto length = frame_detail::checked_length(bytes + begin_, limit);
  if (!length) {
    // A refused prefix is consumed; whatever followed it stays, as it
    // would have stayed on the stream.
    begin_ += kPrefixLen;
    return std::unexpected(std::move(length.error()));
  }

  // Grows only now that the length passed the limit: at most the limit plus
  // the 8 bytes of alignment and prefix, rounded up to whole words. A frame
  // that fits the retained size gives a grown buffer back, or gets the
  // retained size if the buffer was first sized for a smaller limit.
  const std::size_t frame_end = kPayloadAt + *length;
  if (frame_end <= kRetainedCapacity) trim();
  if (frame_end > capacity_) restart(std::max(frame_end, kRetainedCapacity));
  bytes = reinterpret_cast<std::uint8_t*>(words_.get());
  while (end_ < frame_end) {
    if (auto got = receive(); !got) return io_failure(std::move(got.error()));
  }
  begin_ = frame_end;
  return ByteView(bytes + kPayloadAt, *length);
}

}  // namespace remote_session_client
