// Byte-level access to the envelope of a flat-serialised gateway message.
//
// The canned gateway and the floor client touch only two things in a message:
// the sequence number and the union discriminant, both in the envelope's one
// data word. They find that word from the segment table and the root pointer
// instead of running a Cap'n Proto reader, so that neither side of the
// measured round trip spends time decoding.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace orvik_bench {

static_assert(std::endian::native == std::endian::little,
              "the wire's Cap'n Proto words are little-endian; byte swapping is not implemented");

inline std::uint32_t load_le32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::uint16_t load_le16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::uint64_t load_le64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store_le32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, sizeof v); }

inline std::uint32_t load_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Builders put the root struct in the first segment; a message with more
// segments than this is not one that the gateway or a client produces.
inline constexpr std::uint32_t kMaxSegments = 512;

// Byte offset, within `message` (a frame payload), of the envelope's data
// word: seq in bytes 0-3, the union discriminant in bytes 4-5. Empty when the
// segment table or the root pointer does not lead to a struct with at least
// one data word inside the first segment.
inline std::optional<std::size_t> envelope_word_offset(const std::uint8_t* message, std::size_t size) {
  if (size < 8) return std::nullopt;
  const std::uint32_t segments = load_le32(message) + 1;
  if (segments == 0 || segments > kMaxSegments) return std::nullopt;
  const std::size_t table_bytes = (std::size_t{segments} * 4 + 4 + 7) & ~std::size_t{7};
  if (size < table_bytes) return std::nullopt;
  const std::size_t first_words = load_le32(message + 4);
  if (first_words < 2 || first_words > (size - table_bytes) / 8) return std::nullopt;

  const std::uint64_t root = load_le64(message + table_bytes);
  if ((root & 3) != 0) return std::nullopt;  // not a struct pointer
  const std::int64_t offset_words = static_cast<std::int32_t>(static_cast<std::uint32_t>(root)) >> 2;
  const std::uint16_t data_words = static_cast<std::uint16_t>(root >> 32);
  const std::int64_t start_word = 1 + offset_words;
  if (data_words == 0 || start_word < 1 || start_word + 1 > static_cast<std::int64_t>(first_words)) {
    return std::nullopt;
  }
  return table_bytes + static_cast<std::size_t>(start_word) * 8;
}

}  // namespace orvik_bench
