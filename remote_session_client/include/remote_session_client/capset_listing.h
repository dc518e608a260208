// The entries of the transcript's CapsetList event. A reader sees one text
// per entry: the entry's name, a colon, "0x" and its interface id as 16
// lower-case hexadecimal digits. Recording a listing of 10,000 entries must
// not cost 10,000 formatted strings, so the names are kept back to back in
// one buffer beside their ids, and each text is built when it is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "remote_session_client/export.h"

namespace remote_session_client {

class RSC_API CapsetListing {
 public:
  // Room for `entries` entries whose names total `name_bytes` bytes.
  void reserve(std::size_t entries, std::size_t name_bytes);
  void push_back(std::string_view name, std::uint64_t interface_id);
  // An entry given as the text a reader sees; kept as given.
  void push_back(std::string_view text);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // Entry `i` as its text: "name:0x0123456789abcdef".
  std::string operator[](std::size_t i) const;
  std::vector<std::string> texts() const;
  // What reading every text hands out: a string object per entry and its
  // characters.
  std::size_t text_bytes() const { return text_bytes_; }

  friend RSC_API bool operator==(const CapsetListing& listing, const std::vector<std::string>& texts);
  friend RSC_API std::ostream& operator<<(std::ostream& out, const CapsetListing& listing);

 private:
  struct Entry {
    std::size_t end;  // one past the entry's bytes in bytes_
    std::uint64_t interface_id;
    bool named;       // bytes are the name (else the whole text)
  };
  std::string bytes_;
  std::vector<Entry> entries_;
  std::size_t text_bytes_ = 0;
};

}  // namespace remote_session_client
