// Converters from Cap'n Proto readers of the gateway schema to owned records.
// Used by decode_response; public so that each can be tested on its own.
// They may let kj::Exception escape from a malformed pointer: only
// decode_response's boundary catches it.
#pragma once

#include <expected>
#include <string>
#include <vector>

#include <capnp/list.h>

#include "orvik_config/orvik.capnp.h"
#include "remote_session_client/protocol_error.h"
#include "remote_session_client/records.h"

namespace remote_session_client {

// Text that must be UTF-8, copied into an owned string.
std::expected<std::string, ProtocolError> parse_text(capnp::Text::Reader text);

// Each element validated and copied, in wire order; the first bad one fails all.
std::expected<std::vector<std::string>, ProtocolError> parse_text_list(
    capnp::List<capnp::Text>::Reader list);

std::expected<SessionInfoSummary, ProtocolError> parse_session_info(
    orvik_capnp::SessionInfo::Reader info);
std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader entry);

std::expected<std::vector<ServiceCatalogEntry>, ProtocolError> parse_service_catalog(
    capnp::List<orvik_capnp::RemoteServiceCatalogEntry>::Reader list);
std::expected<std::vector<LauncherCatalogEntry>, ProtocolError> parse_launcher_catalog(
    capnp::List<orvik_capnp::RemoteLauncherCatalogEntry>::Reader list);
std::expected<ServiceLaunchStatus, ProtocolError> parse_service_launch_status(
    orvik_capnp::RemoteServiceLaunchStatus::Reader status);

std::expected<std::vector<ChatEventInfo>, ProtocolError> parse_chat_poll_events(
    orvik_capnp::RemoteChatPollResult::Reader result);
std::expected<std::vector<std::string>, ProtocolError> parse_chat_who_members(
    orvik_capnp::RemoteChatWhoResult::Reader result);

}  // namespace remote_session_client
