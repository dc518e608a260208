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
    orvik_capnp::RemoteAuthMethod::Reader method, DecodeBudget& budget) {
  AuthMethodInfo info;
  info.kind = auth_method_kind_name(static_cast<std::uint16_t>(method.getKind()));
  if (auto e = assign_text(info.label, method.getLabel(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text_list(info.profile_hints, method.getProfileHints(), budget)) {
    return std::unexpected(std::move(*e));
  }
  info.interactive = method.getInteractive();
  info.enabled = method.getEnabled();
  return info;
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
  return parse_list(list, budget, [](auto element, DecodeBudget& b) {
    return parse_auth_method(element, b);
  });
}

std::expected<SessionInfoSummary, ProtocolError> parse_session_info(
    orvik_capnp::SessionInfo::Reader info, DecodeBudget& budget) {
  SessionInfoSummary summary;
  const auto principal = info.getPrincipal();
  if (auto e = assign_text(summary.profile, info.getProfile(), budget)) {
    return std::unexpected(std::move(*e));
  }
  summary.principal_kind = principal_kind_name(static_cast<std::uint16_t>(principal.getKind()));
  if (auto e = assign_text(summary.principal_display_name, principal.getDisplayName(), budget)) {
    return std::unexpected(std::move(*e));
  }
  summary.auth_strength = auth_strength_name(static_cast<std::uint16_t>(info.getAuthStrength()));
  const auto session_id = info.getSessionId();
  summary.session_id_hex = hex_lower(ByteView(session_id.begin(), session_id.size()));
  summary.expires_at_ms = info.getExpiresAtMs();
  return summary;
}

std::expected<SessionStarted, ProtocolError> parse_session_started(
    orvik_capnp::RemoteSessionSummary::Reader summary, DecodeBudget& budget) {
  auto session = parse_session_info(summary.getSession(), budget);
  if (!session) return std::unexpected(std::move(session.error()));
  return SessionStarted{std::move(*session), summary.getSummaryValue()};
}

std::expected<RemoteErrorInfo, ProtocolError> parse_remote_error(
    orvik_capnp::RemoteError::Reader error, DecodeBudget& budget) {
  RemoteErrorInfo info;
  info.code = remote_error_code_name(static_cast<std::uint16_t>(error.getCode()));
  if (auto failure = assign_text(info.message, error.getMessage(), budget)) {
    return std::unexpected(std::move(*failure));
  }
  return info;
}

std::expected<SessionInfoSummary, ProtocolError> parse_session_info(
    orvik_capnp::SessionInfo::Reader info) {
  auto budget = DecodeBudget::unlimited();
  return parse_session_info(info, budget);
}

}  // namespace remote_session_client
