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

std::expected<AuthMethodInfo, ProtocolError> parse_auth_method(
    orvik_capnp::RemoteAuthMethod::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteAuthMethod::Reader;
  FieldReader fields(budget);
  AuthMethodInfo info;
  info.kind = auth_method_kind_name(static_cast<std::uint16_t>(wire.getKind()));
  fields.read<&Wire::getLabel>(info.label, wire);
  fields.read<&Wire::getProfileHints>(info.profile_hints, wire);
  info.interactive = wire.getInteractive();
  info.enabled = wire.getEnabled();
  return fields.finish(std::move(info));
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
  return parse_list(list, budget, parse_auth_method);
}

std::expected<SessionInfoSummary, ProtocolError> parse_session_info(
    orvik_capnp::SessionInfo::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::SessionInfo::Reader;
  using Principal = orvik_capnp::PrincipalInfo::Reader;
  FieldReader fields(budget);
  SessionInfoSummary summary;
  const auto principal = wire.getPrincipal();
  fields.read<&Wire::getProfile>(summary.profile, wire);
  summary.principal_kind = principal_kind_name(static_cast<std::uint16_t>(principal.getKind()));
  fields.read<&Principal::getDisplayName>(summary.principal_display_name, principal);
  summary.auth_strength = auth_strength_name(static_cast<std::uint16_t>(wire.getAuthStrength()));
  fields.read<&Wire::getSessionId>(summary.session_id_hex, wire, [](capnp::Data::Reader id, DecodeBudget&) {
    return hex_lower(ByteView(id.begin(), id.size()));
  });
  summary.expires_at_ms = wire.getExpiresAtMs();
  return fields.finish(std::move(summary));
}

std::expected<SessionStarted, ProtocolError> parse_session_started(
    orvik_capnp::RemoteSessionSummary::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteSessionSummary::Reader;
  FieldReader fields(budget);
  SessionStarted started;
  fields.read<&Wire::getSession>(started.summary, wire, parse_session_info);
  started.summary_value = wire.getSummaryValue();
  return fields.finish(std::move(started));
}

std::expected<RemoteErrorInfo, ProtocolError> parse_remote_error(
    orvik_capnp::RemoteError::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteError::Reader;
  FieldReader fields(budget);
  RemoteErrorInfo info;
  info.code = remote_error_code_name(static_cast<std::uint16_t>(wire.getCode()));
  fields.read<&Wire::getMessage>(info.message, wire);
  return fields.finish(std::move(info));
}

}  // namespace remote_session_client
