// Texts from the gateway on a person's terminal. The gateway chooses them, so
// an escape sequence in a display name must not reach the terminal as one:
// a text that holds anything the quoted form escapes is shown in the quoted
// form, every other text as it is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvik_session {

std::string shown(std::string_view utf8);

// Columns a shown text takes: one per code point, which holds for the
// letters, digits and punctuation the gateway's names are made of.
std::size_t display_width(std::string_view utf8);

}  // namespace orvik_session
