// The reprs of AuthMethod, SessionInfo and CapInfo: fixed pieces and fields in
// a fixed order, strings in their quoted form. One function per class, so a
// text is built in exactly one place.
#include "repr.h"

#include <cstdint>
#include <string_view>

#include "remote_session_client/text.h"

namespace orvik {
namespace {

using remote_session_client::quoted;

// "true"/"false": the gateway's own spelling, not Python's True/False.
std::string_view bool_text(bool value) { return value ? "true" : "false"; }

std::string decimal(std::uint64_t value) {
  std::string text;
  remote_session_client::append_number(text, value);
  return text;
}

// "0x" and lower-case hexadecimal without leading zeros: 0x0, 0x1f.
std::string hex(std::uint64_t value) {
  std::string text = "0x";
  remote_session_client::append_number(text, value, 16);
  return text;
}

}  // namespace

std::string repr_text(const remote_session_client::AuthMethodInfo& value) {
  // profile_hints is left out on purpose: the repr names the method, the
  // hints are read through the attribute.
  std::string text = "AuthMethod(kind=";
  text += quoted(value.kind);
  text += ", label=";
  text += quoted(value.label);
  text += ", interactive=";
  text += bool_text(value.interactive);
  text += ", enabled=";
  text += bool_text(value.enabled);
  text += ")";
  return text;
}

std::string repr_text(const remote_session_client::SessionInfoSummary& value) {
  std::string text = "SessionInfo(profile=";
  text += quoted(value.profile);
  text += ", principal_kind=";
  text += quoted(value.principal_kind);
  text += ", principal_display_name=";
  text += quoted(value.principal_display_name);
  text += ", auth_strength=";
  text += quoted(value.auth_strength);
  text += ", session_id_hex=";
  text += quoted(value.session_id_hex);
  text += ", expires_at_ms=";
  text += decimal(value.expires_at_ms);
  text += ")";
  return text;
}

std::string repr_text(const remote_session_client::CapInfo& value) {
  std::string text = "CapInfo(name=";
  text += quoted(value.name);
  text += ", interface_id=";
  text += hex(value.interface_id);
  text += ", transfer_policy=";
  text += quoted(value.transfer_policy);
  text += ", lease_expires_at_ms=";
  text += decimal(value.lease_expires_at_ms);
  text += ")";
  return text;
}

}  // namespace orvik
