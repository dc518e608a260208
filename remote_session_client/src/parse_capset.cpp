// CapSet entries, alone (capGranted) or as the capsetList answer.
#include "parse_internal.h"

namespace remote_session_client {

namespace {

using Wire = orvik_capnp::RemoteCapEntry::Reader;

// In table order; the texts after a failed one are not read.
void fill_cap_entry(FieldReader& fields, CapInfo& info, Wire wire) {
  fields.read<&Wire::getName>(info.name, wire);
  info.interface_id = wire.getInterfaceId();
  fields.read<&Wire::getTransferPolicy>(info.transfer_policy, wire);
  info.lease_expires_at_ms = wire.getLeaseExpiresAtMs();
}

}  // namespace

std::expected<CapInfo, ProtocolError> parse_cap_entry(Wire wire, DecodeBudget& budget) {
  return parse_record<CapInfo>(wire, budget, fill_cap_entry);
}

// Each entry is filled where it lies in the result, not moved there.
std::expected<std::vector<CapInfo>, ProtocolError> parse_capset_list(
    capnp::List<orvik_capnp::RemoteCapEntry>::Reader list, DecodeBudget& budget) {
  return fill_list<CapInfo>(list, budget, fill_cap_entry);
}

}  // namespace remote_session_client
