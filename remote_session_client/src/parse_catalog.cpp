// The service catalogue, the launcher catalogue and a launch status. Every
// list is sized once from its wire element count; a failure at any depth
// discards everything built so far.
#include "parse_internal.h"

namespace remote_session_client {

namespace {

using ServiceEntryWire = orvik_capnp::RemoteServiceCatalogEntry::Reader;

void fill_service_entry(FieldReader& fields, ServiceCatalogEntry& entry, ServiceEntryWire wire) {
  fields.read<&ServiceEntryWire::getText0>(entry.text0, wire);
  fields.read<&ServiceEntryWire::getText1>(entry.text1, wire);
  fields.read<&ServiceEntryWire::getText2>(entry.text2, wire);
  fields.read<&ServiceEntryWire::getText3>(entry.text3, wire);
  fields.read<&ServiceEntryWire::getText4>(entry.text4, wire);
  fields.read<&ServiceEntryWire::getText5>(entry.text5, wire);
  entry.value = wire.getValue();
  fields.read<&ServiceEntryWire::getTextList0>(entry.text_list0, wire);
  fields.read<&ServiceEntryWire::getTextList1>(entry.text_list1, wire);
}

using GrantRequirementWire = orvik_capnp::RemoteLaunchGrantRequirement::Reader;

void fill_grant_requirement(FieldReader& fields, LaunchGrantRequirement& grant, GrantRequirementWire wire) {
  fields.read<&GrantRequirementWire::getText0>(grant.text0, wire);
  fields.read<&GrantRequirementWire::getText1>(grant.text1, wire);
  fields.read<&GrantRequirementWire::getText2>(grant.text2, wire);
  fields.read<&GrantRequirementWire::getText3>(grant.text3, wire);
  grant.value = wire.getValue();
  grant.flag = wire.getFlag();
}

std::expected<std::vector<LaunchGrantRequirement>, ProtocolError> parse_grant_requirements(
    capnp::List<orvik_capnp::RemoteLaunchGrantRequirement>::Reader list, DecodeBudget& budget) {
  return fill_list<LaunchGrantRequirement>(list, budget, fill_grant_requirement);
}

using LauncherEntryWire = orvik_capnp::RemoteLauncherCatalogEntry::Reader;

void fill_launcher_entry(FieldReader& fields, LauncherCatalogEntry& entry, LauncherEntryWire wire) {
  fields.read<&LauncherEntryWire::getText0>(entry.text0, wire);
  fields.read<&LauncherEntryWire::getText1>(entry.text1, wire);
  fields.read<&LauncherEntryWire::getText2>(entry.text2, wire);
  fields.read<&LauncherEntryWire::getText3>(entry.text3, wire);
  entry.flag0 = wire.getFlag0();
  entry.flag1 = wire.getFlag1();
  fields.read<&LauncherEntryWire::getText4>(entry.text4, wire);
  fields.read<&LauncherEntryWire::getGrantRequirements>(entry.grant_requirements, wire, parse_grant_requirements);
  fields.read<&LauncherEntryWire::getServiceEntries>(entry.service_entries, wire, parse_service_catalog);
  fields.read<&LauncherEntryWire::getTextList>(entry.text_list, wire);
}

using LaunchStatusWire = orvik_capnp::RemoteServiceLaunchStatus::Reader;

void fill_service_launch_status(FieldReader& fields, ServiceLaunchStatus& status, LaunchStatusWire wire) {
  fields.read<&LaunchStatusWire::getText0>(status.text0, wire);
  fields.read<&LaunchStatusWire::getText1>(status.text1, wire);
  status.flag = wire.getFlag();
  fields.read<&LaunchStatusWire::getText2>(status.text2, wire);
  fields.read<&LaunchStatusWire::getTextList>(status.text_list, wire);
  fields.read<&LaunchStatusWire::getServiceEntries>(status.service_entries, wire, parse_service_catalog);
}

}  // namespace

std::expected<std::vector<ServiceCatalogEntry>, ProtocolError> parse_service_catalog(
    capnp::List<orvik_capnp::RemoteServiceCatalogEntry>::Reader list, DecodeBudget& budget) {
  return fill_list<ServiceCatalogEntry>(list, budget, fill_service_entry);
}

std::expected<std::vector<LauncherCatalogEntry>, ProtocolError> parse_launcher_catalog(
    capnp::List<orvik_capnp::RemoteLauncherCatalogEntry>::Reader list, DecodeBudget& budget) {
  return fill_list<LauncherCatalogEntry>(list, budget, fill_launcher_entry);
}

std::expected<ServiceLaunchStatus, ProtocolError> parse_service_launch_status(
    orvik_capnp::RemoteServiceLaunchStatus::Reader wire, DecodeBudget& budget) {
  return parse_record<ServiceLaunchStatus>(wire, budget, fill_service_launch_status);
}

}  // namespace remote_session_client
