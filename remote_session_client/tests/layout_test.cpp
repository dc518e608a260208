// The compiled gateway schema against the gateway's wire layout. Field names do
// not travel; section sizes, slot positions and union discriminants do, and a
// schema edit that moves any of them breaks every exchange with a real
// gateway. Each row below is the layout the gateway uses.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <capnp/schema.h>
#include <gtest/gtest.h>

#include "orvik_config/orvik.capnp.h"

namespace {

namespace o = orvik_capnp;
using W = capnp::schema::Type::Which;

struct TypeSpec {
  W which = W::VOID;
  std::uint64_t id = 0;         // struct or enum type id
  W element = W::VOID;          // list element kind
  std::uint64_t element_id = 0; // struct element type id
};

const TypeSpec kVoid{W::VOID};
const TypeSpec kBool{W::BOOL};
const TypeSpec kU16{W::UINT16};
const TypeSpec kU32{W::UINT32};
const TypeSpec kU64{W::UINT64};
const TypeSpec kText{W::TEXT};
const TypeSpec kData{W::DATA};
const TypeSpec kTextList{W::LIST, 0, W::TEXT};
template <typename T> TypeSpec struct_of() { return {W::STRUCT, capnp::typeId<T>()}; }
template <typename T> TypeSpec enum_of() { return {W::ENUM, capnp::typeId<T>()}; }
template <typename T> TypeSpec list_of() { return {W::LIST, 0, W::STRUCT, capnp::typeId<T>()}; }

// Where a field lives: a bit offset in the data section, a pointer slot, or
// nowhere (Void).
struct Pos {
  enum class Section { Data, Pointer, None } section;
  std::uint32_t index;
};
Pos bit(std::uint32_t offset) { return {Pos::Section::Data, offset}; }
Pos ptr(std::uint32_t slot) { return {Pos::Section::Pointer, slot}; }
const Pos kNowhere{Pos::Section::None, 0};

constexpr std::uint16_t kNotInUnion = capnp::schema::Field::NO_DISCRIMINANT;

struct FieldRow {
  const char* name;
  TypeSpec type;
  Pos pos;
  std::uint16_t discriminant = kNotInUnion;
};

struct StructRow {
  const char* name;
  capnp::StructSchema schema;
  std::uint16_t data_words;
  std::uint16_t pointers;
  std::vector<FieldRow> fields;
  // Union discriminant: its bit offset and the number of arms, if any.
  std::optional<std::uint32_t> discriminant_bit = std::nullopt;
  std::uint16_t union_arms = 0;
  // False where the struct holds further fields that the client never reads.
  bool complete = true;
};

void PrintTo(const StructRow& row, std::ostream* os) { *os << row.name; }

template <typename T> capnp::StructSchema schema_of() { return capnp::Schema::from<T>(); }

std::uint32_t bit_width(W which) {
  switch (which) {
    case W::BOOL: return 1;
    case W::UINT16: case W::ENUM: return 16;
    case W::UINT32: return 32;
    case W::UINT64: return 64;
    default: return 0;
  }
}

bool is_pointer(W which) {
  return which == W::TEXT || which == W::DATA || which == W::LIST || which == W::STRUCT;
}

// The request envelope: seq, then 24 arms, every payload in pointer 0.
StructRow request_envelope() {
  auto arm = [](const char* name, TypeSpec type, std::uint16_t d) {
    return FieldRow{name, type, type.which == W::VOID ? kNowhere : ptr(0), d};
  };
  return {"RemoteGatewayRequest", schema_of<o::RemoteGatewayRequest>(), 1, 1,
          {
              {"seq", kU32, bit(0)},
              arm("authMethods", kVoid, 0),
              arm("passwordLogin", struct_of<o::RemotePasswordLogin>(), 1),
              arm("anonymousLogin", struct_of<o::RemoteAnonymousLogin>(), 2),
              arm("capsetList", kVoid, 3),
              arm("capsetGet", struct_of<o::RemoteCapGetRequest>(), 4),
              arm("sessionInfo", kVoid, 5),
              arm("systemMotd", kVoid, 6),
              arm("chatSend", struct_of<o::RemoteChatSend>(), 7),
              arm("logout", kVoid, 8),
              arm("serviceCatalog", kVoid, 9),
              arm("launcherCatalog", kVoid, 10),
              arm("serviceLaunch", struct_of<o::RemoteServiceLaunchRequest>(), 11),
              arm("adventureStatus", kVoid, 12),
              arm("adventureLook", kVoid, 13),
              arm("adventureInventory", kVoid, 14),
              arm("adventureGo", struct_of<o::RemoteAdventureGo>(), 15),
              arm("chatJoin", struct_of<o::RemoteChatJoin>(), 16),
              arm("chatLeave", struct_of<o::RemoteChatLeave>(), 17),
              arm("chatPoll", struct_of<o::RemoteChatPoll>(), 18),
              arm("chatWho", struct_of<o::RemoteChatWho>(), 19),
              arm("adventureTake", struct_of<o::RemoteAdventureItem>(), 20),
              arm("adventureDrop", struct_of<o::RemoteAdventureItem>(), 21),
              arm("adventureUse", struct_of<o::RemoteAdventureItem>(), 22),
              arm("guestLogin", struct_of<o::RemoteGuestLogin>(), 23),
          },
          32, 24};
}

// The response envelope: seq, then 23 arms; Bool arms share bit 48, pointer
// arms share pointer 0.
StructRow response_envelope() {
  auto arm = [](const char* name, TypeSpec type, std::uint16_t d) {
    return FieldRow{name, type, type.which == W::BOOL ? bit(48) : ptr(0), d};
  };
  return {"RemoteGatewayResponse", schema_of<o::RemoteGatewayResponse>(), 1, 1,
          {
              {"seq", kU32, bit(0)},
              arm("authMethods", list_of<o::RemoteAuthMethod>(), 0),
              arm("sessionStarted", struct_of<o::RemoteSessionSummary>(), 1),
              arm("capsetList", list_of<o::RemoteCapEntry>(), 2),
              arm("capGranted", struct_of<o::RemoteCapEntry>(), 3),
              arm("sessionInfo", struct_of<o::SessionInfo>(), 4),
              arm("systemMotd", kText, 5),
              arm("chatSent", kBool, 6),
              arm("loggedOut", kBool, 7),
              arm("error", struct_of<o::RemoteError>(), 8),
              arm("serviceCatalog", list_of<o::RemoteServiceCatalogEntry>(), 9),
              arm("launcherCatalog", list_of<o::RemoteLauncherCatalogEntry>(), 10),
              arm("serviceLaunch", struct_of<o::RemoteServiceLaunchStatus>(), 11),
              arm("adventureStatus", kText, 12),
              arm("adventureLook", kText, 13),
              arm("adventureInventory", kText, 14),
              arm("adventureGo", kText, 15),
              arm("chatJoined", kBool, 16),
              arm("chatLeft", kBool, 17),
              arm("chatPollEvents", struct_of<o::RemoteChatPollResult>(), 18),
              arm("chatWhoMembers", struct_of<o::RemoteChatWhoResult>(), 19),
              arm("adventureTake", kText, 20),
              arm("adventureDrop", kText, 21),
              arm("adventureUse", kText, 22),
          },
          32, 23};
}

std::vector<StructRow> wire_structs() {
  return {
      request_envelope(),
      response_envelope(),
      // ---------------------------------------------------- authentication
      {"LoginSelector", schema_of<o::LoginSelector>(), 1, 1,
       {{"accountName", kData, ptr(0), 0}, {"opaqueSelector", kData, ptr(0), 1}},
       0, 2},
      {"RemotePasswordLogin", schema_of<o::RemotePasswordLogin>(), 0, 3,
       {{"selector", struct_of<o::LoginSelector>(), ptr(0)},
        {"profile", kText, ptr(1)},
        {"proof", kData, ptr(2)}}},
      {"RemoteAnonymousLogin", schema_of<o::RemoteAnonymousLogin>(), 0, 1,
       {{"profile", kText, ptr(0)}}},
      {"RemoteGuestLogin", schema_of<o::RemoteGuestLogin>(), 0, 1, {{"profile", kText, ptr(0)}}},
      {"RemoteAuthMethod", schema_of<o::RemoteAuthMethod>(), 1, 2,
       {{"kind", enum_of<o::RemoteAuthMethodKind>(), bit(0)},
        {"interactive", kBool, bit(16)},
        {"enabled", kBool, bit(17)},
        {"label", kText, ptr(0)},
        {"profileHints", kTextList, ptr(1)}}},
      {"RemoteSessionSummary", schema_of<o::RemoteSessionSummary>(), 1, 1,
       {{"summaryValue", kU16, bit(0)}, {"session", struct_of<o::SessionInfo>(), ptr(0)}}},
      {"SessionInfo", schema_of<o::SessionInfo>(), 3, 3,
       {{"authStrength", enum_of<o::AuthStrength>(), bit(0)},
        {"expiresAtMs", kU64, bit(128)},
        {"sessionId", kData, ptr(0)},
        {"principal", struct_of<o::PrincipalInfo>(), ptr(1)},
        {"profile", kText, ptr(2)}},
       std::nullopt, 0, false},
      {"PrincipalInfo", schema_of<o::PrincipalInfo>(), 1, 2,
       {{"kind", enum_of<o::PrincipalKind>(), bit(0)}, {"displayName", kText, ptr(1)}},
       std::nullopt, 0, false},
      {"RemoteError", schema_of<o::RemoteError>(), 1, 1,
       {{"code", enum_of<o::RemoteErrorCode>(), bit(0)}, {"message", kText, ptr(0)}}},
      // ------------------------------------------------ session and CapSet
      {"RemoteCapGetRequest", schema_of<o::RemoteCapGetRequest>(), 1, 1,
       {{"expectedInterfaceId", kU64, bit(0)}, {"name", kText, ptr(0)}}},
      {"RemoteCapEntry", schema_of<o::RemoteCapEntry>(), 2, 2,
       {{"interfaceId", kU64, bit(0)},
        {"leaseExpiresAtMs", kU64, bit(64)},
        {"name", kText, ptr(0)},
        {"transferPolicy", kText, ptr(1)}}},
      // ---------------------------------------- service catalog and launch
      {"RemoteServiceLaunchRequest", schema_of<o::RemoteServiceLaunchRequest>(), 0, 2,
       {{"profile", kText, ptr(0)}, {"grants", kTextList, ptr(1)}}},
      {"RemoteServiceCatalogEntry", schema_of<o::RemoteServiceCatalogEntry>(), 1, 8,
       {{"text0", kText, ptr(0)},
        {"text1", kText, ptr(1)},
        {"text2", kText, ptr(2)},
        {"text3", kText, ptr(3)},
        {"text4", kText, ptr(4)},
        {"text5", kText, ptr(5)},
        {"value", kU64, bit(0)},
        {"textList0", kTextList, ptr(6)},
        {"textList1", kTextList, ptr(7)}}},
      {"RemoteLauncherCatalogEntry", schema_of<o::RemoteLauncherCatalogEntry>(), 1, 8,
       {{"text0", kText, ptr(0)},
        {"text1", kText, ptr(1)},
        {"text2", kText, ptr(2)},
        {"text3", kText, ptr(3)},
        {"flag0", kBool, bit(0)},
        {"flag1", kBool, bit(1)},
        {"text4", kText, ptr(4)},
        {"grantRequirements", list_of<o::RemoteLaunchGrantRequirement>(), ptr(5)},
        {"serviceEntries", list_of<o::RemoteServiceCatalogEntry>(), ptr(6)},
        {"textList", kTextList, ptr(7)}}},
      {"RemoteLaunchGrantRequirement", schema_of<o::RemoteLaunchGrantRequirement>(), 2, 4,
       {{"text0", kText, ptr(0)},
        {"text1", kText, ptr(1)},
        {"text2", kText, ptr(2)},
        {"text3", kText, ptr(3)},
        {"value", kU64, bit(0)},
        {"flag", kBool, bit(64)}}},
      {"RemoteServiceLaunchStatus", schema_of<o::RemoteServiceLaunchStatus>(), 1, 5,
       {{"text0", kText, ptr(0)},
        {"text1", kText, ptr(1)},
        {"flag", kBool, bit(0)},
        {"text2", kText, ptr(2)},
        {"textList", kTextList, ptr(3)},
        {"serviceEntries", list_of<o::RemoteServiceCatalogEntry>(), ptr(4)}}},
      // -------------------------------------------------------------- chat
      {"RemoteChatJoin", schema_of<o::RemoteChatJoin>(), 0, 2,
       {{"channel", kText, ptr(0)}, {"handle", kText, ptr(1)}}},
      {"RemoteChatSend", schema_of<o::RemoteChatSend>(), 0, 2,
       {{"channel", kText, ptr(0)}, {"text", kText, ptr(1)}}},
      {"RemoteChatPoll", schema_of<o::RemoteChatPoll>(), 1, 0, {{"maxEvents", kU16, bit(0)}}},
      {"RemoteChatWho", schema_of<o::RemoteChatWho>(), 0, 1, {{"channel", kText, ptr(0)}}},
      {"RemoteChatLeave", schema_of<o::RemoteChatLeave>(), 0, 1, {{"channel", kText, ptr(0)}}},
      {"RemoteChatPollResult", schema_of<o::RemoteChatPollResult>(), 0, 1,
       {{"events", list_of<o::RemoteChatEvent>(), ptr(0)}}},
      {"RemoteChatEvent", schema_of<o::RemoteChatEvent>(), 1, 3,
       {{"text0", kText, ptr(0)},
        {"text1", kText, ptr(1)},
        {"kind", enum_of<o::RemoteChatEventKind>(), bit(0)},
        {"text2", kText, ptr(2)}}},
      {"RemoteChatWhoResult", schema_of<o::RemoteChatWhoResult>(), 0, 1,
       {{"members", kTextList, ptr(0)}}},
      // --------------------------------------------------------- adventure
      {"RemoteAdventureGo", schema_of<o::RemoteAdventureGo>(), 0, 1,
       {{"direction", kText, ptr(0)}}},
      {"RemoteAdventureItem", schema_of<o::RemoteAdventureItem>(), 0, 1,
       {{"item", kText, ptr(0)}}},
  };
}

void expect_type(const FieldRow& row, capnp::schema::Type::Reader type) {
  ASSERT_EQ(type.which(), row.type.which) << row.name;
  switch (row.type.which) {
    case W::STRUCT:
      EXPECT_EQ(type.getStruct().getTypeId(), row.type.id) << row.name;
      break;
    case W::ENUM:
      EXPECT_EQ(type.getEnum().getTypeId(), row.type.id) << row.name;
      break;
    case W::LIST: {
      auto element = type.getList().getElementType();
      ASSERT_EQ(element.which(), row.type.element) << row.name;
      if (row.type.element == W::STRUCT) {
        EXPECT_EQ(element.getStruct().getTypeId(), row.type.element_id) << row.name;
      }
      break;
    }
    default:
      break;
  }
}

void expect_position(const FieldRow& row, capnp::schema::Field::Slot::Reader slot) {
  const W which = row.type.which;
  switch (row.pos.section) {
    case Pos::Section::None:
      EXPECT_EQ(which, W::VOID) << row.name;
      break;
    case Pos::Section::Pointer:
      ASSERT_TRUE(is_pointer(which)) << row.name;
      EXPECT_EQ(slot.getOffset(), row.pos.index) << row.name << " pointer slot";
      break;
    case Pos::Section::Data:
      ASSERT_NE(bit_width(which), 0u) << row.name;
      EXPECT_EQ(slot.getOffset() * bit_width(which), row.pos.index) << row.name << " bit offset";
      break;
  }
}

std::optional<capnp::StructSchema::Field> find_field(capnp::StructSchema schema, std::string_view name) {
  for (auto field : schema.getFields()) {
    const auto field_name = field.getProto().getName();
    if (std::string_view(field_name.begin(), field_name.size()) == name) return field;
  }
  return std::nullopt;
}

class WireLayout : public ::testing::TestWithParam<StructRow> {};

TEST_P(WireLayout, MatchesTheGatewayLayout) {
  const StructRow& row = GetParam();
  const auto node = row.schema.getProto();
  ASSERT_TRUE(node.isStruct());
  const auto layout = node.getStruct();
  EXPECT_EQ(layout.getDataWordCount(), row.data_words);
  EXPECT_EQ(layout.getPointerCount(), row.pointers);

  if (row.discriminant_bit) {
    EXPECT_EQ(layout.getDiscriminantCount(), row.union_arms);
    EXPECT_EQ(layout.getDiscriminantOffset() * 16u, *row.discriminant_bit);
  } else {
    EXPECT_EQ(layout.getDiscriminantCount(), 0u);
  }

  if (row.complete) {
    EXPECT_EQ(row.schema.getFields().size(), row.fields.size())
        << "the struct declares fields the gateway layout does not have";
  }

  for (const FieldRow& field : row.fields) {
    SCOPED_TRACE(field.name);
    const auto found = find_field(row.schema, field.name);
    ASSERT_TRUE(found.has_value()) << "no field " << field.name;
    const auto proto = found->getProto();
    ASSERT_TRUE(proto.isSlot());
    const auto slot = proto.getSlot();
    expect_type(field, slot.getType());
    expect_position(field, slot);
    EXPECT_EQ(proto.getDiscriminantValue(), field.discriminant);
    // Nothing on the wire is XOR-ed with a default.
    EXPECT_FALSE(slot.getHadExplicitDefault());
  }
}

INSTANTIATE_TEST_SUITE_P(GatewaySchema, WireLayout, ::testing::ValuesIn(wire_structs()),
                         [](const ::testing::TestParamInfo<StructRow>& info) {
                           return std::string(info.param.name);
                         });

// The gateway and its simulator name enumerants; the client names wire values.
// Both must agree on value and name.
struct EnumRow {
  const char* name;
  capnp::EnumSchema schema;
  std::vector<const char*> enumerants;  // in wire-value order
};

void PrintTo(const EnumRow& row, std::ostream* os) { *os << row.name; }

class WireEnums : public ::testing::TestWithParam<EnumRow> {};

TEST_P(WireEnums, ValuesAndNamesMatchTheGateway) {
  const EnumRow& row = GetParam();
  const auto enumerants = row.schema.getEnumerants();
  ASSERT_EQ(enumerants.size(), row.enumerants.size());
  for (unsigned i = 0; i < enumerants.size(); ++i) {
    EXPECT_EQ(enumerants[i].getOrdinal(), i);
    EXPECT_EQ(std::string(enumerants[i].getProto().getName().cStr()), row.enumerants[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    GatewaySchema, WireEnums,
    ::testing::Values(
        EnumRow{"RemoteAuthMethodKind", capnp::Schema::from<o::RemoteAuthMethodKind>(),
                {"password", "publicKey", "oidcDeviceCode", "oidcAuthorizationCodePkce", "passkey",
                 "mtlsClientCert", "guest", "anonymous", "serviceCredential"}},
        EnumRow{"PrincipalKind", capnp::Schema::from<o::PrincipalKind>(),
                {"human", "operator", "service", "guest", "anonymous", "pseudonymous"}},
        EnumRow{"AuthStrength", capnp::Schema::from<o::AuthStrength>(),
                {"none", "localPresence", "password", "hardwareKey", "multiParty", "publicKey"}},
        EnumRow{"RemoteErrorCode", capnp::Schema::from<o::RemoteErrorCode>(),
                {"badRequest", "disabledAuthMethod", "authenticationDenied", "unauthenticated",
                 "unknownCap", "interfaceMismatch", "staleSession", "methodDenied",
                 "serviceUnavailable"}}),
    [](const ::testing::TestParamInfo<EnumRow>& info) { return std::string(info.param.name); });

// Only the count of chat event kinds is fixed; their names are the gateway's own.
TEST(GatewaySchema, ChatEventKindHasFiveValues) {
  EXPECT_EQ(capnp::Schema::from<o::RemoteChatEventKind>().getEnumerants().size(), 5u);
}

}  // namespace
