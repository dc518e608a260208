// The texts the tool prints: an answer for people, for pipelines or as JSON,
// and the transcript. Each ends in a newline, and none holds a control
// character from the gateway: texts are shown in the quoted form where they
// need it, and JSON escapes them as \u.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "options.h"
#include "remote_session_client/transcript.h"
#include "response_tree.h"

namespace orvik_session {

// Human: aligned columns for a list of records under a header of the field
// names, aligned "name  value" lines for one record, a text as its lines.
// Raw: the same rows, tab-separated, without header or padding, and an empty
// value empty instead of "-".
std::string human_text(const Answer& answer, bool raw);

// One JSON document: {"kind": ..., and the payload's fields}.
std::string json_text(const Answer& answer);

// The answer in the form the options ask for.
std::string answer_text(const Answer& answer, Format format);

// Any JSON document of ours, indented, every character the quoted form
// escapes written as a \u escape.
std::string json_document(const nlohmann::ordered_json& document);

// One line per event, oldest first, each starting "transcript: ".
std::string transcript_text(const remote_session_client::Transcript& transcript);

}  // namespace orvik_session
