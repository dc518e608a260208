// Reading frames: FrameReader, and read_frame as a reader that receives
// nothing past the frame it returns.
#include <algorithm>
#include <cstring>
#include <utility>
#include <variant>

#include "frame_internal.h"
#include "remote_session_client/byte_stream.h"
#include "remote_session_client/frame.h"
#include "socket_stream.h"

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

// The payload length a complete prefix announces, checked in the order that
// decides the error: zero length first, then the limit. Nothing may be
// allocated for a frame before this passed: the prefix alone could ask for
// 4 GiB.
std::expected<std::size_t, FrameError> checked_length(const std::uint8_t* prefix, std::size_t limit) {
  const std::size_t length = (std::size_t{prefix[0]} << 24) | (std::size_t{prefix[1]} << 16) |
                             (std::size_t{prefix[2]} << 8) | std::size_t{prefix[3]};
  if (length == 0) return std::unexpected(FrameError{FrameError::Empty{}});
  if (length > limit) return std::unexpected(FrameError{FrameError::TooLarge{length, limit}});
  return length;
}

// One receive into `dest` (room > 0): the count received, never 0. A peer
// that ended the stream is an unexpected end of file, since the reader is
// still missing bytes of a frame.
std::expected<std::size_t, IoError> receive_some(ByteStream& stream, std::uint8_t* dest, std::size_t room) {
  auto got = stream.read_some(std::span(dest, room));
  if (got && *got == 0) return std::unexpected(IoError::made(IoError::Kind::UnexpectedEof));
  return got;
}

}  // namespace

FrameReader::FrameReader(FrameReader&& other) noexcept
    : words_(std::move(other.words_)),
      capacity_(std::exchange(other.capacity_, 0)),
      begin_(std::exchange(other.begin_, 0)),
      end_(std::exchange(other.end_, 0)),
      exact_(other.exact_) {}

FrameReader& FrameReader::operator=(FrameReader&& other) noexcept {
  if (this != &other) {
    words_ = std::move(other.words_);
    capacity_ = std::exchange(other.capacity_, 0);
    begin_ = std::exchange(other.begin_, 0);
    end_ = std::exchange(other.end_, 0);
    exact_ = other.exact_;
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

std::unexpected<FrameError> FrameReader::lose_frame(IoError error) {
  // Nothing is resynchronised differently from the stream itself. Had any
  // of the frame's bytes arrived, the stream is now inside that frame.
  const bool inside_frame = buffered() > 0;
  begin_ = end_ = kPrefixAt;
  return std::unexpected(FrameError{FrameError::Io{std::move(error)}, inside_frame});
}

std::expected<void, IoError> FrameReader::fill_to(ByteStream& stream, std::size_t target) {
  while (end_ < target) {
    auto got = receive_some(stream, bytes() + end_, room_for(target));
    if (!got) return std::unexpected(std::move(got.error()));
    end_ += *got;
  }
  return {};
}

// Grows only once the length passed the limit: at most the limit plus the 8
// bytes of alignment and prefix, rounded up to whole words. A frame that fits
// the retained size gives a grown buffer back, or gets the retained size if
// the buffer was first sized for a smaller limit.
void FrameReader::make_room(std::size_t frame_end) {
  if (frame_end <= kRetainedCapacity) trim();
  if (frame_end > capacity_) restart(std::max(frame_end, kRetainedCapacity));
}

std::expected<ByteView, FrameError> FrameReader::read(ByteStream& stream, std::size_t limit) {
  if (!words_) restart(first_capacity(limit));
  if (begin_ != kPrefixAt) {
    // Usually nothing is left; otherwise the start of a later frame, which
    // moves down to the aligned frame start.
    const std::size_t kept = buffered();
    std::memmove(bytes() + kPrefixAt, bytes() + begin_, kept);
    begin_ = kPrefixAt;
    end_ = kPrefixAt + kept;
  }

  if (auto filled = fill_to(stream, begin_ + kPrefixLen); !filled) return lose_frame(std::move(filled.error()));
  auto length = checked_length(bytes() + begin_, limit);
  if (!length) {
    // A refused prefix is consumed; whatever followed it stays, as it
    // would have stayed on the stream. A zero length is a whole frame; a
    // refused one leaves its payload unread, and the stream inside it.
    begin_ += kPrefixLen;
    length.error().inside_frame = !std::holds_alternative<FrameError::Empty>(length.error().value);
    return std::unexpected(std::move(length.error()));
  }

  const std::size_t frame_end = kPayloadAt + *length;
  make_room(frame_end);
  if (auto filled = fill_to(stream, frame_end); !filled) return lose_frame(std::move(filled.error()));
  begin_ = frame_end;
  return ByteView(bytes() + kPayloadAt, *length);
}

std::expected<ByteView, FrameError> FrameReader::read(int fd, std::size_t limit) {
  SocketStream stream(fd);
  return read(stream, limit);
}

std::expected<Bytes, FrameError> read_frame(ByteStream& stream, std::size_t limit) {
  FrameReader reader(FrameReader::Receive::Exact);
  auto frame = reader.read(stream, limit);
  if (!frame) return std::unexpected(std::move(frame.error()));
  return Bytes(frame->begin(), frame->end());
}

std::expected<Bytes, FrameError> read_frame(int fd, std::size_t limit) {
  SocketStream stream(fd);
  return read_frame(stream, limit);
}

}  // namespace remote_session_client
