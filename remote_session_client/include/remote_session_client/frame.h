// Frames on the gateway byte stream: a 4-byte big-endian payload length, then
// the payload (one flat-serialised Cap'n Proto message). This module moves
// bytes and nothing else: no deadlines, no retries, no knowledge of messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <variant>

#include "remote_session_client/bytes.h"
#include "remote_session_client/export.h"
#include "remote_session_client/io_error.h"

namespace remote_session_client {

struct FrameError {
  struct Io { IoError error; };
  struct Empty {};
  struct TooLarge { std::size_t length; std::size_t limit; };
  struct LengthOverflow { std::size_t length; };

  std::variant<Io, Empty, TooLarge, LengthOverflow> value;
};

// "frame I/O failed: ...", "empty Cap'n Proto frame is invalid", ...
RSC_API std::string to_string(const FrameError& error);

// Writes one frame on a blocking, connected socket. The prefix and the payload
// leave in one scatter-gather send (two iovecs), so Nagle's algorithm never
// holds the payload back behind the peer's delayed ACK. EINTR is retried.
RSC_API std::expected<void, FrameError> write_frame(int fd, ByteView payload);

// Writes frames like write_frame, and tells where a failure left the peer's
// stream. A write that fails after part of its frame went out leaves the
// peer reading the bytes that follow as the rest of that frame, so no later
// frame arrives whole. The writer reports this and refuses nothing: what to
// do with such a stream is the caller's decision.
class RSC_API FrameWriter {
 public:
  std::expected<void, FrameError> write(int fd, ByteView payload);

  // True until a write fails after sending some of its frame's bytes; false
  // from then on, since no frame boundary can be found on that stream again.
  bool at_boundary() const { return at_boundary_; }

 private:
  bool at_boundary_ = true;
};

// Reads one frame. A length above `limit` is refused before anything is
// allocated for it, so a hostile prefix cannot make us allocate 4 GiB.
// Stateless: it receives exactly the frame's bytes and nothing past them.
// A FrameReader whose receives stop at the frame's end, so both faces share
// one implementation of the checks, their order and their errors.
RSC_API std::expected<Bytes, FrameError> read_frame(int fd, std::size_t limit);

// Reads frames like read_frame, but through one reusable buffer: a small
// answer arrives in a single recv, and no buffer is allocated or zeroed per
// frame. Bytes that arrive past a frame are kept for the next read, so the
// frames it returns and the errors it reports are exactly read_frame's on the
// same stream: a refused prefix consumes its 4 bytes and nothing more, and a
// failed receive loses the frame's bytes so far, as the stream would have.
class RSC_API FrameReader {
 public:
  // Kept between frames; 64 KiB holds every ordinary answer. A larger frame
  // gets a buffer of its own size (at most the limit plus 16 bytes), kept
  // while the answers stay that large and given back by the first frame that
  // fits in this size, so one large answer does not pin its memory once
  // ordinary answers follow. Giving it back after every large frame would
  // cost a client that keeps listing a large CapSet a fresh, page-faulted
  // buffer per call: measured, 0.3 ms more per 560 KB answer.
  static constexpr std::size_t kRetainedCapacity = 64 * 1024;

  FrameReader() = default;
  FrameReader(FrameReader&& other) noexcept;
  FrameReader& operator=(FrameReader&& other) noexcept;
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;
  ~FrameReader() = default;

  // One frame's payload, starting on an 8-byte boundary so that a message can
  // be read in place. The view is valid until the next read() or trim().
  std::expected<ByteView, FrameError> read(int fd, std::size_t limit);

  // Gives back a buffer grown for a large frame now (invalidating the last
  // view), for a holder about to go idle.
  void trim();

  std::size_t capacity() const { return capacity_; }
  // Bytes received past the last frame, waiting for the next read.
  std::size_t buffered() const { return end_ - begin_; }

  // True until a read fails inside a frame: a refused length, whose payload
  // stays unread, or a failed receive after some of the frame's bytes
  // arrived. False from then on: the bytes that follow are no longer frame
  // boundaries. A zero length and a failure before the frame's first byte
  // leave the stream at a boundary. The reader only reports this; reads
  // after it go on as read_frame's would on the same stream.
  bool at_boundary() const { return at_boundary_; }

 private:
  friend std::expected<Bytes, FrameError> read_frame(int fd, std::size_t limit);

  // Exact: every recv asks for no more than the frame still lacks (read_frame).
  enum class Receive { Buffered, Exact };
  explicit FrameReader(Receive receive) : exact_(receive == Receive::Exact) {}

  void restart(std::size_t bytes);
  // A buffer that holds the frame up to `frame_end`, grown only for a length
  // that passed the limit, or a grown one given back when the frame fits.
  void make_room(std::size_t frame_end);
  // Receives until the buffer holds everything before `target`.
  std::expected<void, IoError> fill_to(int fd, std::size_t target);
  // How much one recv may ask for: up to `target` for an exact reader, as
  // much as fits for a buffered one.
  std::size_t room_for(std::size_t target) const { return (exact_ ? target : capacity_) - end_; }
  // After a failed receive: the frame's bytes so far are dropped.
  std::unexpected<FrameError> lose_frame(IoError error);
  std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(words_.get()); }

  // Words, so the buffer is aligned for Cap'n Proto; the payload of the frame
  // being read starts at byte 8, behind its prefix at byte 4.
  std::unique_ptr<std::uint64_t[]> words_;
  std::size_t capacity_ = 0;  // bytes
  std::size_t begin_ = 0;     // first unconsumed byte
  std::size_t end_ = 0;       // one past the last received byte
  bool exact_ = false;
  bool at_boundary_ = true;
};

}  // namespace remote_session_client
