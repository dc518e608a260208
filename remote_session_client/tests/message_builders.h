// Building gateway responses for tests: with Cap'n Proto's builder for the
// ordinary shapes, and word by word for the shapes a builder never makes
// (short sections, wrong pointer kinds, unknown arms, shared lists).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <capnp/message.h>
#include <capnp/serialize.h>

#include "orvik_config/orvik.capnp.h"
#include "remote_session_client/bytes.h"

namespace rsc_test {

using remote_session_client::Bytes;
using remote_session_client::ByteView;

// The flat serialisation of a built message, in an owned (word-aligned) buffer.
inline Bytes to_bytes(capnp::MessageBuilder& message) {
  auto words = capnp::messageToFlatArray(message);
  auto bytes = words.asBytes();
  return Bytes(bytes.begin(), bytes.end());
}

// A response built by `fill`, which receives the root after `seq` is set.
template <typename Fill>
Bytes response(std::uint32_t seq, Fill&& fill) {
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<orvik_capnp::RemoteGatewayResponse>();
  root.setSeq(seq);
  std::forward<Fill>(fill)(root);
  return to_bytes(message);
}

// Text with arbitrary bytes (invalid UTF-8 included) for a builder's setter;
// `bytes` must outlive the call.
inline capnp::Text::Reader raw_text(const std::string& bytes) {
  return capnp::Text::Reader(bytes.data(), bytes.size());
}

// A single-segment message assembled word by word. Positions are word indices
// in the segment; pointer offsets are computed from them.
class RawMessage {
 public:
  enum ElementSize : std::uint8_t {
    kVoid = 0, kBit = 1, kByte = 2, kTwoBytes = 3, kFourBytes = 4, kEightBytes = 5,
    kPointer = 6, kInlineComposite = 7,
  };

  // Word 0 is the root pointer.
  RawMessage() : words_(1, 0) {}

  // Appends `count` zero words; returns the index of the first.
  std::size_t alloc(std::size_t count) {
    std::size_t at = words_.size();
    words_.resize(words_.size() + count, 0);
    return at;
  }

  std::uint64_t& word(std::size_t at) { return words_.at(at); }

  void set_bytes(std::size_t at_word, std::size_t byte_offset, std::string_view bytes) {
    std::memcpy(reinterpret_cast<char*>(words_.data() + at_word) + byte_offset, bytes.data(),
                bytes.size());
  }

  void struct_pointer(std::size_t at, std::size_t target, std::uint16_t data_words,
                      std::uint16_t pointers) {
    words_.at(at) = (offset_bits(at, target) << 2) | (std::uint64_t{data_words} << 32) |
                    (std::uint64_t{pointers} << 48);
  }

  // `count` is the element count, or the word count for kInlineComposite.
  void list_pointer(std::size_t at, std::size_t target, ElementSize size, std::uint32_t count) {
    words_.at(at) = 1 | (offset_bits(at, target) << 2) | (std::uint64_t{size} << 32) |
                    (std::uint64_t{count} << 35);
  }

  // A struct of the given shape; returns the index of its first data word.
  std::size_t new_struct(std::size_t pointer_at, std::uint16_t data_words, std::uint16_t pointers) {
    std::size_t at = alloc(std::size_t{data_words} + pointers);
    struct_pointer(pointer_at, at, data_words, pointers);
    return at;
  }

  // A list of `count` structs of the given shape behind its tag word; returns
  // the index of the first element.
  std::size_t new_struct_list(std::size_t pointer_at, std::uint32_t count,
                              std::uint16_t data_words, std::uint16_t pointers) {
    const std::uint32_t element_words = std::uint32_t{data_words} + pointers;
    std::size_t tag = alloc(1 + std::size_t{count} * element_words);
    words_[tag] = (std::uint64_t{count} << 2) | (std::uint64_t{data_words} << 32) |
                  (std::uint64_t{pointers} << 48);
    list_pointer(pointer_at, tag, kInlineComposite, count * element_words);
    return tag + 1;
  }

  // Text (with its NUL terminator) behind the pointer at `pointer_at`.
  void new_text(std::size_t pointer_at, std::string_view text) {
    std::size_t at = alloc((text.size() + 1 + 7) / 8);
    set_bytes(at, 0, text);
    list_pointer(pointer_at, at, kByte, static_cast<std::uint32_t>(text.size() + 1));
  }

  // The root envelope with one data word (seq and arm) and one pointer.
  // Returns the index of the root's data word; its pointer is the next word.
  std::size_t envelope(std::uint32_t seq, std::uint16_t arm) {
    std::size_t at = new_struct(0, 1, 1);
    words_[at] = std::uint64_t{seq} | (std::uint64_t{arm} << 32);
    return at;
  }

  // Segment table (one segment) followed by the segment.
  Bytes bytes() const {
    Bytes out(8 + words_.size() * 8);
    const std::uint32_t table[2] = {0, static_cast<std::uint32_t>(words_.size())};
    std::memcpy(out.data(), table, sizeof table);
    std::memcpy(out.data() + 8, words_.data(), words_.size() * 8);
    return out;
  }

 private:
  static std::uint64_t offset_bits(std::size_t at, std::size_t target) {
    auto offset = static_cast<std::int64_t>(target) - static_cast<std::int64_t>(at) - 1;
    return static_cast<std::uint64_t>(offset) & 0x3FFFFFFFU;
  }

  std::vector<std::uint64_t> words_;
};

}  // namespace rsc_test
