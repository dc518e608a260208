// What every failure text of the client may look like: each starts with one
// of the fixed openings its error type renders. A fuzzer that finds another
// text has found an error rendered outside its one place.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvik_fuzz {

inline bool starts_with_any(std::string_view text, std::initializer_list<std::string_view> openings) {
  for (std::string_view opening : openings) {
    if (text.starts_with(opening)) return true;
  }
  return false;
}

inline constexpr std::initializer_list<std::string_view> kFrameOpenings = {
    "frame I/O failed: ", "empty Cap'n Proto frame is invalid", "Cap'n Proto frame length "};

inline constexpr std::initializer_list<std::string_view> kProtocolOpenings = {
    "Cap'n Proto protocol error: ", "Cap'n Proto text was not valid UTF-8: ",
    "remote gateway schema mismatch: ", "response seq "};

inline constexpr std::initializer_list<std::string_view> kClientOpenings = {
    "frame I/O failed: ", "empty Cap'n Proto frame is invalid", "Cap'n Proto frame length ",
    "Cap'n Proto protocol error: ", "Cap'n Proto text was not valid UTF-8: ",
    "remote gateway schema mismatch: ", "response seq ", "remote gateway denied request: code=",
    "request ", "connection is out of step after an earlier frame failure; create a new Client"};

// Aborts (so that libFuzzer keeps the input) when `text` is not a failure
// text of the expected family.
inline void expect_text(const std::string& text, std::initializer_list<std::string_view> openings) {
  if (!starts_with_any(text, openings)) {
    std::fprintf(stderr, "unexpected failure text: %s\n", text.c_str());
    std::abort();
  }
}

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace orvik_fuzz
