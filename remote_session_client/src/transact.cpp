#include "remote_session_client/client.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {

ClientResult<Transacted> RemoteSessionClient::transact(RequestKind request) {
  using E = RemoteSessionClientError;
  // On a stream left inside a frame, what follows would be read as length
  // prefixes and answers, bytes the gateway put inside a refused payload
  // among them, and a request sent now would land inside the gateway's
  // unfinished frame. Nothing is sent, read, numbered or recorded.
  if (!in_step()) return std::unexpected(E{E::OutOfStep{}});
  // The number is spent even if a later step fails; unsigned arithmetic
  // wraps 4294967295 to 0.
  const std::uint32_t seq = next_seq_++;
  std::string request_label = label(request);
  transcript_.record(event::Request{request_label, seq});

  if (auto encoded = encode_request_into(seq, request, request_bytes_); !encoded) {
    return std::unexpected(E{E::Protocol{std::move(encoded.error())}});
  }
  if (auto written = requests_.write(stream_.fd(), request_bytes_); !written) {
    return std::unexpected(E{E::Frame{std::move(written.error())}});
  }
  auto frame = frames_.read(stream_.fd(), config_.max_frame_len);
  if (!frame) return std::unexpected(E{E::Frame{std::move(frame.error())}});
  // Decoded in place from the reader's buffer; the response owns copies.
  auto response = decode_response(seq, *frame);
  if (!response) return std::unexpected(E{E::Protocol{std::move(response.error())}});

  transcript_.record(event::Response{std::string(kind_name(response->kind)), response->seq});
  return Transacted{std::move(*response), std::move(request_label)};
}

}  // namespace remote_session_client
