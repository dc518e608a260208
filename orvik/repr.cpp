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

// The pieces of one repr, fixed texts and rendered fields, in their order.
template <typename... Pieces>
std::string joined(const Pieces&... pieces) {
  std::string text;
  (text += ... += pieces);
  return text;
}

}  // namespace

// profile_hints is left out on purpose: the repr names the method, the hints
// are read through the attribute.
std::string repr_text(const remote_session_client::AuthMethodInfo& value) {
  return joined("AuthMethod(kind=", quoted(value.kind), ", label=", quoted(value.label),
                ", interactive=", bool_text(value.interactive), ", enabled=", bool_text(value.enabled), ")");
}

std::string repr_text(const remote_session_client::SessionInfoSummary& value) {
  return joined("SessionInfo(profile=", quoted(value.profile), ", principal_kind=", quoted(value.principal_kind),
                ", principal_display_name=", quoted(value.principal_display_name),
                ", auth_strength=", quoted(value.auth_strength), ", session_id_hex=", quoted(value.session_id_hex),
                ", expires_at_ms=", decimal(value.expires_at_ms), ")");
}

std::string repr_text(const remote_session_client::CapInfo& value) {
  return joined("CapInfo(name=", quoted(value.name), ", interface_id=", hex(value.interface_id),
                ", transfer_policy=", quoted(value.transfer_policy),
                ", lease_expires_at_ms=", decimal(value.lease_expires_at_ms), ")");
}

}  // namespace orvik
