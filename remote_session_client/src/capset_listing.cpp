#include "remote_session_client/capset_listing.h"

#include <ostream>

#include "remote_session_client/text.h"

namespace remote_session_client {

namespace {

// ":" and "0x" and 16 digits after the name.
constexpr std::size_t kIdSuffixBytes = 19;

}  // namespace

void CapsetListing::reserve(std::size_t entries, std::size_t name_bytes) {
  entries_.reserve(entries);
  bytes_.reserve(name_bytes);
}

void CapsetListing::push_back(std::string_view name, std::uint64_t interface_id) {
  bytes_.append(name);
  entries_.push_back(Entry{bytes_.size(), interface_id, true});
  text_bytes_ += sizeof(std::string) + name.size() + kIdSuffixBytes;
}

void CapsetListing::push_back(std::string_view text) {
  bytes_.append(text);
  entries_.push_back(Entry{bytes_.size(), 0, false});
  text_bytes_ += sizeof(std::string) + text.size();
}

std::string CapsetListing::operator[](std::size_t i) const {
  const std::size_t begin = i == 0 ? 0 : entries_[i - 1].end;
  const std::string_view stored = std::string_view(bytes_).substr(begin, entries_[i].end - begin);
  if (!entries_[i].named) return std::string(stored);
  std::string text;
  text.reserve(stored.size() + kIdSuffixBytes);
  text.append(stored);
  text += ':';
  text += hex_u64_padded(entries_[i].interface_id);
  return text;
}

std::vector<std::string> CapsetListing::texts() const {
  std::vector<std::string> out;
  out.reserve(size());
  for (std::size_t i = 0; i < size(); ++i) out.push_back((*this)[i]);
  return out;
}

bool operator==(const CapsetListing& listing, const std::vector<std::string>& texts) {
  if (listing.size() != texts.size()) return false;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (listing[i] != texts[i]) return false;
  }
  return true;
}

std::ostream& operator<<(std::ostream& out, const CapsetListing& listing) {
  out << '{';
  for (std::size_t i = 0; i < listing.size(); ++i) out << (i == 0 ? "\"" : ", \"") << listing[i] << '"';
  return out << '}';
}

}  // namespace remote_session_client
