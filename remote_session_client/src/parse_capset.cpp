// CapSet entries, alone (capGranted) or as the capsetList answer.
#include "parse_internal.h"

namespace remote_session_client {

std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader wire,
                                                      DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteCapEntry::Reader;
  FieldReader fields(budget);
  CapInfo info;
  fields.read<&Wire::getName>(info.name, wire);
  info.interface_id = wire.getInterfaceId();
  fields.read<&Wire::getTransferPolicy>(info.transfer_policy, wire);
  info.lease_expires_at_ms = wire.getLeaseExpiresAtMs();
  return fields.finish(std::move(info));
}

std::expected<std::vector<CapInfo>, ProtocolError> parse_capset_list(
    capnp::List<orvik_capnp::RemoteCapEntry>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, parse_cap_entry);
}

}  // namespace remote_session_client
