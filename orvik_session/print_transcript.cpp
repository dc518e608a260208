// The session's transcript on stderr, one line per event. The library keeps
// secrets out of it (labels carry "<redacted>" for a proof); the texts the
// gateway chose are shown as on the terminal anywhere else.
#include <string_view>

#include "output.h"
#include "print.h"
#include "remote_session_client/text.h"

namespace orvik_session {

namespace rsc = remote_session_client;
namespace ev = remote_session_client::event;

namespace {

std::string joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts) {
    if (!out.empty()) out += ',';
    out += shown(text);
  }
  return out;
}

std::string seq(std::uint32_t n) { return "seq=" + std::to_string(n) + " "; }

struct EventText {
  std::string operator()(const ev::Connect& e) const { return "connect " + shown(e.target); }
  std::string operator()(const ev::Connected& e) const { return "connected " + e.peer; }
  std::string operator()(const ev::Request& e) const { return "request " + seq(e.seq) + shown(e.label); }
  std::string operator()(const ev::Response& e) const { return "response " + seq(e.seq) + e.label; }
  std::string operator()(const ev::AuthMethods& e) const {
    return "authMethods enabled=" + joined(e.enabled_kinds) + " count=" + std::to_string(e.count);
  }
  std::string operator()(const ev::SessionStarted& e) const {
    return "sessionStarted profile=" + shown(e.profile) + " principal=" + shown(e.principal) +
           " summary_value=" + std::to_string(e.summary_value);
  }
  std::string operator()(const ev::CapsetList& e) const {
    return "capsetList count=" + std::to_string(e.count) + " entries=" + joined(e.entries.texts());
  }
  std::string operator()(const ev::CapGranted& e) const {
    return "capGranted name=" + shown(e.name) + " interface_id=" + rsc::hex_u64_padded(e.interface_id);
  }
  std::string operator()(const ev::SessionInfo& e) const {
    return "sessionInfo profile=" + shown(e.profile) + " principal=" + shown(e.principal) +
           " auth_strength=" + shown(e.auth_strength);
  }
  std::string operator()(const ev::SystemMotd& e) const { return "systemMotd text=" + rsc::quoted(e.text); }
  std::string operator()(const ev::Denied& e) const {
    return "denied " + seq(e.seq) + "code=" + shown(e.code) + " message=" + rsc::quoted(e.message);
  }
  std::string operator()(const ev::Note& e) const { return "note " + shown(e.text); }
};

}  // namespace

std::string transcript_text(const rsc::Transcript& transcript) {
  std::string out;
  if (transcript.dropped() != 0) {
    out += "transcript: (" + std::to_string(transcript.dropped()) + " earlier events dropped)\n";
  }
  for (const rsc::TranscriptEvent& event : transcript.events()) {
    out += "transcript: ";
    out += std::visit(EventText{}, event);
    out += '\n';
  }
  return out;
}

}  // namespace orvik_session
