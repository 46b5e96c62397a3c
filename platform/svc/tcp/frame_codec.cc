#include "platform/svc/tcp/frame_codec.h"

namespace kyv {

bool EncodeFrame(const RpcFrame& frame, std::string* out, size_t max_bytes) {
  const size_t size = frame.ByteSizeLong();
  if (size > max_bytes || size > UINT32_MAX) return false;
  const size_t start = out->size();
  out->resize(start + kFrameHeaderBytes + size);
  char* p = &(*out)[start];
  p[0] = static_cast<char>((size >> 24) & 0xff);
  p[1] = static_cast<char>((size >> 16) & 0xff);
  p[2] = static_cast<char>((size >> 8) & 0xff);
  p[3] = static_cast<char>(size & 0xff);
  frame.SerializeWithCachedSizesToArray(reinterpret_cast<uint8_t*>(p + kFrameHeaderBytes));
  return true;
}

FrameDecodeStatus DecodeFrame(std::string_view* input, RpcFrame* frame, size_t max_bytes) {
  if (input->size() < kFrameHeaderBytes) return FrameDecodeStatus::kNeedMore;
  const auto* p = reinterpret_cast<const unsigned char*>(input->data());
  const uint32_t size = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) |
                        uint32_t{p[3]};
  if (size > max_bytes || size > INT32_MAX) return FrameDecodeStatus::kTooLarge;
  if (input->size() - kFrameHeaderBytes < size) return FrameDecodeStatus::kNeedMore;
  if (!frame->ParseFromArray(p + kFrameHeaderBytes, static_cast<int>(size))) {
    return FrameDecodeStatus::kMalformed;
  }
  input->remove_prefix(kFrameHeaderBytes + size);
  return FrameDecodeStatus::kFrame;
}

}  // namespace kyv
