// Authentication answers: the advertised methods, the session a login
// started (and the session metadata shared with the sessionInfo answer), the
// gateway's error answer, and the names of the enumerations they carry.
#include <array>

#include "parse_internal.h"
#include "remote_session_client/text.h"

namespace remote_session_client {

namespace {

constexpr std::string_view kUnknown = "unknown";

template <std::size_t N>
std::string_view name_in(const std::array<std::string_view, N>& table, std::uint16_t value) {
  return value < N ? table[value] : kUnknown;
}

constexpr std::array<std::string_view, 9> kAuthMethodKinds = {
    "password", "publicKey", "oidcDeviceCode", "oidcAuthorizationCodePkce", "passkey",
    "mtlsClientCert", "guest", "anonymous", "serviceCredential"};

constexpr std::array<std::string_view, 6> kPrincipalKinds = {
    "human", "operator", "service", "guest", "anonymous", "pseudonymous"};

constexpr std::array<std::string_view, 6> kAuthStrengths = {
    "none", "localPresence", "password", "hardwareKey", "multiParty", "publicKey"};

constexpr std::array<std::string_view, 9> kRemoteErrorCodes = {
    "badRequest", "disabledAuthMethod", "authenticationDenied", "unauthenticated", "unknownCap",
    "interfaceMismatch", "staleSession", "methodDenied", "serviceUnavailable"};

using MethodWire = orvik_capnp::RemoteAuthMethod::Reader;
using InfoWire = orvik_capnp::SessionInfo::Reader;
using PrincipalWire = orvik_capnp::PrincipalInfo::Reader;
using StartedWire = orvik_capnp::RemoteSessionSummary::Reader;
using ErrorWire = orvik_capnp::RemoteError::Reader;

// Each record's fields in table order (see FieldReader).

void fill_auth_method(FieldReader& fields, AuthMethodInfo& info, MethodWire wire) {
  info.kind = auth_method_kind_name(static_cast<std::uint16_t>(wire.getKind()));
  fields.read<&MethodWire::getLabel>(info.label, wire);
  fields.read<&MethodWire::getProfileHints>(info.profile_hints, wire);
  info.interactive = wire.getInteractive();
  info.enabled = wire.getEnabled();
}

void fill_session_info(FieldReader& fields, SessionInfoSummary& summary, InfoWire wire) {
  const auto principal = wire.getPrincipal();
  fields.read<&InfoWire::getProfile>(summary.profile, wire);
  summary.principal_kind = principal_kind_name(static_cast<std::uint16_t>(principal.getKind()));
  fields.read<&PrincipalWire::getDisplayName>(summary.principal_display_name, principal);
  summary.auth_strength = auth_strength_name(static_cast<std::uint16_t>(wire.getAuthStrength()));
  fields.read<&InfoWire::getSessionId>(summary.session_id_hex, wire, [](capnp::Data::Reader id, DecodeBudget&) {
    return hex_lower(ByteView(id.begin(), id.size()));
  });
  summary.expires_at_ms = wire.getExpiresAtMs();
}

void fill_session_started(FieldReader& fields, SessionStarted& started, StartedWire wire) {
  fields.read<&StartedWire::getSession>(started.summary, wire, parse_session_info);
  started.summary_value = wire.getSummaryValue();
}

void fill_remote_error(FieldReader& fields, RemoteErrorInfo& info, ErrorWire wire) {
  info.code = remote_error_code_name(static_cast<std::uint16_t>(wire.getCode()));
  fields.read<&ErrorWire::getMessage>(info.message, wire);
}

}  // namespace

std::string_view auth_method_kind_name(std::uint16_t value) {
  return name_in(kAuthMethodKinds, value);
}
std::string_view principal_kind_name(std::uint16_t value) {
  return name_in(kPrincipalKinds, value);
}
std::string_view auth_strength_name(std::uint16_t value) {
  return name_in(kAuthStrengths, value);
}
std::string_view remote_error_code_name(std::uint16_t value) {
  return name_in(kRemoteErrorCodes, value);
}

std::expected<std::vector<AuthMethodInfo>, ProtocolError> parse_auth_methods(
    capnp::List<orvik_capnp::RemoteAuthMethod>::Reader list, DecodeBudget& budget) {
  return fill_list<AuthMethodInfo>(list, budget, fill_auth_method);
}

std::expected<SessionInfoSummary, ProtocolError> parse_session_info(InfoWire wire, DecodeBudget& budget) {
  return parse_record<SessionInfoSummary>(wire, budget, fill_session_info);
}

std::expected<SessionStarted, ProtocolError> parse_session_started(StartedWire wire, DecodeBudget& budget) {
  return parse_record<SessionStarted>(wire, budget, fill_session_started);
}

std::expected<RemoteErrorInfo, ProtocolError> parse_remote_error(ErrorWire wire, DecodeBudget& budget) {
  return parse_record<RemoteErrorInfo>(wire, budget, fill_remote_error);
}

}  // namespace remote_session_client
