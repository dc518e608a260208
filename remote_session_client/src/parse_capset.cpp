// CapSet entries, alone (capGranted) or as the capsetList answer.
#include "parse_internal.h"

namespace remote_session_client {

std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader entry,
                                                      DecodeBudget& budget) {
  CapInfo info;
  if (auto e = assign_text(info.name, entry.getName(), budget)) {
    return std::unexpected(std::move(*e));
  }
  info.interface_id = entry.getInterfaceId();
  if (auto e = assign_text(info.transfer_policy, entry.getTransferPolicy(), budget)) {
    return std::unexpected(std::move(*e));
  }
  info.lease_expires_at_ms = entry.getLeaseExpiresAtMs();
  return info;
}

std::expected<std::vector<CapInfo>, ProtocolError> parse_capset_list(
    capnp::List<orvik_capnp::RemoteCapEntry>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, [](auto element, DecodeBudget& b) {
    return parse_cap_entry(element, b);
  });
}

std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader entry) {
  auto budget = DecodeBudget::unlimited();
  return parse_cap_entry(entry, budget);
}

}  // namespace remote_session_client
