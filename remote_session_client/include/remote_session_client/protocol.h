// The gateway codec: typed requests to message bytes, message bytes to typed
// responses, and the transcript label of every request. Pure: no I/O, no
// clocks, no state between calls. Nothing here throws; Cap'n Proto's
// exceptions are caught at this boundary and returned as ProtocolError::Capnp.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "remote_session_client/bytes.h"
#include "remote_session_client/export.h"
#include "remote_session_client/protocol_error.h"
#include "remote_session_client/request.h"
#include "remote_session_client/response.h"
#include "remote_session_client/text.h"

namespace remote_session_client {

// Reader limits for a response. The traversal limit bounds the work a message
// can make us do (a small message can point at the same data many times); the
// nesting limit bounds recursion through nested structs and lists.
inline constexpr std::uint64_t kTraversalLimitWords = std::uint64_t{1} << 26;
inline constexpr int kNestingLimit = 32;

// The complete flat-serialised RemoteGatewayRequest (segment table, then the
// segments). Fails for a refused adventure word and for every paperclips
// request; nothing is produced then.
RSC_API std::expected<Bytes, ProtocolError> encode_request(std::uint32_t seq, const RequestKind& request);

// encode_request into `out`, replacing its contents and reusing its storage,
// for a caller that sends one request after another. On failure `out` holds
// nothing.
RSC_API std::expected<void, ProtocolError> encode_request_into(std::uint32_t seq, const RequestKind& request,
                                                       Bytes& out);

// Decodes one response frame read in place from `payload` (copied first only
// if it is not word-aligned). Fails on a sequence number other than
// `expected_seq`, before the union is looked at. All or nothing.
RSC_API std::expected<DecodedResponse, ProtocolError> decode_response(std::uint32_t expected_seq,
                                                              ByteView payload);

// One line naming the request by its arm and showing its payload without
// secrets ("passwordLogin profile=operator proof=<redacted>"). Never fails.
RSC_API std::string label(const RequestKind& request);

// Adventure words: 1 to 64 bytes of [A-Za-z0-9_-], no reserved marker;
// returned in lower case.
RSC_API std::expected<std::string, AdventureItemError> normalize_adventure_token(std::string_view token);

// Paperclips commands: 1 to 4096 bytes of [A-Za-z0-9 ,-./:_], no reserved
// marker; returned unchanged.
RSC_API std::expected<std::string, AdventureItemError> normalize_paperclips_command(std::string_view text);

// The message every paperclips request is refused with.
inline constexpr std::string_view kPaperclipsRefusal =
    "PaperclipsInitial/Command/Status/Projects are bridge-internal and cannot be "
    "encoded onto the current RemoteGatewayRequest schema; extend the schema in Path C";

}  // namespace remote_session_client
