# The orvik remote session gateway schema.
#
# Field names do not travel on the wire; positions and union discriminants do.
# Every struct below declares its fields so that the Cap'n Proto layout rules
# place them exactly where the gateway reads and writes them: do not reorder
# fields or insert new ones before existing ordinals.
@0xc5b2e8a1d47f3960;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("orvik_capnp");

# ---------------------------------------------------------------- enumerations

enum RemoteAuthMethodKind {
  password @0;
  publicKey @1;
  oidcDeviceCode @2;
  oidcAuthorizationCodePkce @3;
  passkey @4;
  mtlsClientCert @5;
  guest @6;
  anonymous @7;
  serviceCredential @8;
}

enum PrincipalKind {
  human @0;
  operator @1;
  service @2;
  guest @3;
  anonymous @4;
  pseudonymous @5;
}

enum AuthStrength {
  none @0;
  localPresence @1;
  password @2;
  hardwareKey @3;
  multiParty @4;
  publicKey @5;
}

enum RemoteErrorCode {
  badRequest @0;
  disabledAuthMethod @1;
  authenticationDenied @2;
  unauthenticated @3;
  unknownCap @4;
  interfaceMismatch @5;
  staleSession @6;
  methodDenied @7;
  serviceUnavailable @8;
}

enum RemoteChatEventKind {
  message @0;
  joined @1;
  left @2;
  notice @3;
  system @4;
}

# ------------------------------------------------------------- authentication

struct LoginSelector {
  union {
    accountName @0 :Data;
    opaqueSelector @1 :Data;
  }
}

struct RemotePasswordLogin {
  selector @0 :LoginSelector;
  profile @1 :Text;
  proof @2 :Data;
}

struct RemoteAnonymousLogin {
  profile @0 :Text;
}

struct RemoteGuestLogin {
  profile @0 :Text;
}

struct RemoteAuthMethod {
  kind @0 :RemoteAuthMethodKind;
  interactive @1 :Bool;
  enabled @2 :Bool;
  label @3 :Text;
  profileHints @4 :List(Text);
}

struct PrincipalInfo {
  kind @0 :PrincipalKind;
  principalId @1 :Data;
  displayName @2 :Text;
}

# The client reads authStrength, expiresAtMs (data word 2) and the three
# pointers; generation, idleTimeoutSecs and createdAtMs fill bits 16-127 so
# that expiresAtMs lands in word 2.
struct SessionInfo {
  authStrength @0 :AuthStrength;
  generation @1 :UInt16;
  idleTimeoutSecs @2 :UInt32;
  createdAtMs @3 :UInt64;
  expiresAtMs @4 :UInt64;
  sessionId @5 :Data;
  principal @6 :PrincipalInfo;
  profile @7 :Text;
}

struct RemoteSessionSummary {
  summaryValue @0 :UInt16;
  session @1 :SessionInfo;
}

struct RemoteError {
  code @0 :RemoteErrorCode;
  message @1 :Text;
}

# ---------------------------------------------------------- session and CapSet

struct RemoteCapGetRequest {
  expectedInterfaceId @0 :UInt64;
  name @1 :Text;
}

struct RemoteCapEntry {
  interfaceId @0 :UInt64;
  leaseExpiresAtMs @1 :UInt64;
  name @2 :Text;
  transferPolicy @3 :Text;
}

# ------------------------------------------------- service catalog and launch

struct RemoteServiceLaunchRequest {
  profile @0 :Text;
  grants @1 :List(Text);
}

struct RemoteServiceCatalogEntry {
  text0 @0 :Text;
  text1 @1 :Text;
  text2 @2 :Text;
  text3 @3 :Text;
  text4 @4 :Text;
  text5 @5 :Text;
  value @6 :UInt64;
  textList0 @7 :List(Text);
  textList1 @8 :List(Text);
}

struct RemoteLaunchGrantRequirement {
  text0 @0 :Text;
  text1 @1 :Text;
  text2 @2 :Text;
  text3 @3 :Text;
  value @4 :UInt64;
  flag @5 :Bool;
}

struct RemoteLauncherCatalogEntry {
  text0 @0 :Text;
  text1 @1 :Text;
  text2 @2 :Text;
  text3 @3 :Text;
  flag0 @4 :Bool;
  flag1 @5 :Bool;
  text4 @6 :Text;
  grantRequirements @7 :List(RemoteLaunchGrantRequirement);
  serviceEntries @8 :List(RemoteServiceCatalogEntry);
  textList @9 :List(Text);
}

struct RemoteServiceLaunchStatus {
  text0 @0 :Text;
  text1 @1 :Text;
  flag @2 :Bool;
  text2 @3 :Text;
  textList @4 :List(Text);
  serviceEntries @5 :List(RemoteServiceCatalogEntry);
}

# ----------------------------------------------------------------------- chat

struct RemoteChatJoin {
  channel @0 :Text;
  handle @1 :Text;
}

struct RemoteChatSend {
  channel @0 :Text;
  text @1 :Text;
}

struct RemoteChatPoll {
  maxEvents @0 :UInt16;
}

struct RemoteChatWho {
  channel @0 :Text;
}

struct RemoteChatLeave {
  channel @0 :Text;
}

struct RemoteChatEvent {
  text0 @0 :Text;
  text1 @1 :Text;
  kind @2 :RemoteChatEventKind;
  text2 @3 :Text;
}

struct RemoteChatPollResult {
  events @0 :List(RemoteChatEvent);
}

struct RemoteChatWhoResult {
  members @0 :List(Text);
}

# ------------------------------------------------------------------ adventure

struct RemoteAdventureGo {
  direction @0 :Text;
}

struct RemoteAdventureItem {
  item @0 :Text;
}

# ------------------------------------------------------------------ envelopes

# seq sits in bits 0-31, the union discriminant in bits 32-47, every payload
# in pointer 0. The arm order fixes the discriminant values: append only.
struct RemoteGatewayRequest {
  seq @0 :UInt32;
  union {
    authMethods @1 :Void;
    passwordLogin @2 :RemotePasswordLogin;
    anonymousLogin @3 :RemoteAnonymousLogin;
    capsetList @4 :Void;
    capsetGet @5 :RemoteCapGetRequest;
    sessionInfo @6 :Void;
    systemMotd @7 :Void;
    chatSend @8 :RemoteChatSend;
    logout @9 :Void;
    serviceCatalog @10 :Void;
    launcherCatalog @11 :Void;
    serviceLaunch @12 :RemoteServiceLaunchRequest;
    adventureStatus @13 :Void;
    adventureLook @14 :Void;
    adventureInventory @15 :Void;
    adventureGo @16 :RemoteAdventureGo;
    chatJoin @17 :RemoteChatJoin;
    chatLeave @18 :RemoteChatLeave;
    chatPoll @19 :RemoteChatPoll;
    chatWho @20 :RemoteChatWho;
    adventureTake @21 :RemoteAdventureItem;
    adventureDrop @22 :RemoteAdventureItem;
    adventureUse @23 :RemoteAdventureItem;
    guestLogin @24 :RemoteGuestLogin;
  }
}

# As the request, plus every Bool arm at data bit 48.
struct RemoteGatewayResponse {
  seq @0 :UInt32;
  union {
    authMethods @1 :List(RemoteAuthMethod);
    sessionStarted @2 :RemoteSessionSummary;
    capsetList @3 :List(RemoteCapEntry);
    capGranted @4 :RemoteCapEntry;
    sessionInfo @5 :SessionInfo;
    systemMotd @6 :Text;
    chatSent @7 :Bool;
    loggedOut @8 :Bool;
    error @9 :RemoteError;
    serviceCatalog @10 :List(RemoteServiceCatalogEntry);
    launcherCatalog @11 :List(RemoteLauncherCatalogEntry);
    serviceLaunch @12 :RemoteServiceLaunchStatus;
    adventureStatus @13 :Text;
    adventureLook @14 :Text;
    adventureInventory @15 :Text;
    adventureGo @16 :Text;
    chatJoined @17 :Bool;
    chatLeft @18 :Bool;
    chatPollEvents @19 :RemoteChatPollResult;
    chatWhoMembers @20 :RemoteChatWhoResult;
    adventureTake @21 :Text;
    adventureDrop @22 :Text;
    adventureUse @23 :Text;
  }
}
