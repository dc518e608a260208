// FrameReader, the reader every client call goes through, over an arbitrary
// byte stream delivered in arbitrary chunks, checked read by read against the
// plain parse as read_frame is (chunked_stream.h).
//
// Input: byte 0 is the reader's schedule: its high nibble selects the limit
// of every read after the first (like the stream's own selector, which the
// first read uses), so a buffer sized for one limit must serve another; bit
// i of its low nibble gives back a grown buffer (trim) before every read
// whose index is i modulo 4. The rest is a stream input of chunked_stream.h.
#include <cstdint>

#include "chunked_stream.h"

namespace rsc = remote_session_client;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return -1;
  const std::uint8_t schedule = data[0];
  const auto stream = orvik_fuzz::parse_stream(data + 1, size - 1);
  if (!stream) return -1;
  const std::size_t later_limit = orvik_fuzz::frame_limit(schedule >> 4);
  rsc::FrameReader reader;
  orvik_fuzz::check_reader(
      *stream, [&](std::size_t index) { return index == 0 ? stream->limit : later_limit; },
      [&](int fd, std::size_t limit, std::size_t index) {
        if (schedule & (1U << (index % 4))) reader.trim();
        auto frame = reader.read(fd, limit);
        // The decoder reads the payload in place, as words.
        if (frame && reinterpret_cast<std::uintptr_t>(frame->data()) % 8 != 0) {
          orvik_fuzz::fail("a payload did not start on a word boundary");
        }
        return frame;
      });
  return 0;
}
