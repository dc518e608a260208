// The texts the tool prints: an answer for people or as JSON, and the
// transcript. Each ends in a newline.
#pragma once

#include <string>

#include "remote_session_client/transcript.h"
#include "response_tree.h"

namespace orvik_session {

// Aligned columns for a list of records, aligned "name  value" lines for one
// record, a text as its lines.
std::string human_text(const Answer& answer);

// One JSON document: {"kind": ..., and the payload's fields}.
std::string json_text(const Answer& answer);

// One line per event, oldest first, each starting "transcript: ".
std::string transcript_text(const remote_session_client::Transcript& transcript);

}  // namespace orvik_session
