#include "remote_session_client/client.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {

ClientResult<Transacted> RemoteSessionClient::transact(RequestKind request) {
  using E = RemoteSessionClientError;
  // A child made by fork() shares the parent's connection; were it to send,
  // each process would read the other's answers.
  if (!owner_.is_current()) return std::unexpected(E{E::OtherProcess{}});
  // On a stream left inside a frame, what follows would be read as length
  // prefixes and answers, bytes the gateway put inside a refused payload
  // among them, and a request sent now would land inside the gateway's
  // unfinished frame. Nothing is sent, read, numbered or recorded.
  if (!in_step_) return std::unexpected(E{E::OutOfStep{}});
  // A frame failure that stopped inside a frame puts the stream out of step
  // for good; every other failure leaves it as it was.
  auto frame_failure = [this](FrameError error) {
    if (error.inside_frame) in_step_ = false;
    return std::unexpected(E{E::Frame{std::move(error)}});
  };
  // The number is spent even if a later step fails; unsigned arithmetic
  // wraps 4294967295 to 0.
  const std::uint32_t seq = next_seq_++;
  std::string request_label = label(request);
  transcript_.record(event::Request{request_label, seq});

  if (auto encoded = encode_request_into(seq, request, request_bytes_); !encoded) {
    return std::unexpected(E{E::Protocol{std::move(encoded.error())}});
  }
  if (auto written = write_frame(*stream_, request_bytes_); !written) {
    return frame_failure(std::move(written.error()));
  }
  auto frame = frames_.read(*stream_, config_.max_frame_len);
  if (!frame) return frame_failure(std::move(frame.error()));
  // Decoded in place from the reader's buffer; the response owns copies.
  auto response = decode_response(seq, *frame);
  if (!response) return std::unexpected(E{E::Protocol{std::move(response.error())}});

  transcript_.record(event::Response{std::string(kind_name(response->kind)), response->seq});
  return Transacted{std::move(*response), std::move(request_label)};
}

}  // namespace remote_session_client
