// Wire form of TCP RPC frames: a 4-byte big-endian length, then one serialized RpcFrame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/svc/tcp/rpc_frame.pb.h"

namespace kyv {

// Largest serialized RpcFrame accepted or sent (the length prefix excluded).
constexpr size_t kMaxFrameBytes = 64u << 20;
constexpr size_t kFrameHeaderBytes = 4;

enum class FrameDecodeStatus {
  kFrame,      // one frame decoded; the input was advanced past it
  kNeedMore,   // the input holds only part of a frame; nothing consumed
  kTooLarge,   // the length prefix exceeds the limit; the stream cannot be resynchronised
  kMalformed,  // the body is not an RpcFrame; the stream cannot be trusted further
};

// Appends the encoded `frame` to `out`. Returns false, leaving `out` unchanged, when the frame
// is larger than `max_bytes`.
bool EncodeFrame(const RpcFrame& frame, std::string* out, size_t max_bytes = kMaxFrameBytes);

// Decodes the first frame of `*input` into `*frame`. On kFrame, `*input` is advanced past the
// frame; otherwise it is left as it was and `*frame` is unspecified. Never reads outside
// `*input`.
FrameDecodeStatus DecodeFrame(std::string_view* input, RpcFrame* frame,
                              size_t max_bytes = kMaxFrameBytes);

}  // namespace kyv
