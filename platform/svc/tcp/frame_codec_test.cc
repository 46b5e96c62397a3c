#include "platform/svc/tcp/frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace kyv {
namespace {

RpcFrame SampleFrame() {
  RpcFrame frame;
  frame.set_call_id(42);
  frame.set_kind(RpcFrame::REQUEST);
  frame.set_service("kyv.testing.EchoService");
  frame.set_method_index(1);
  frame.set_payload(std::string("\0\1\2 payload", 11));
  return frame;
}

std::string Header(uint32_t size) {
  std::string h(4, '\0');
  h[0] = static_cast<char>(size >> 24);
  h[1] = static_cast<char>(size >> 16);
  h[2] = static_cast<char>(size >> 8);
  h[3] = static_cast<char>(size);
  return h;
}

TEST(FrameCodecTest, RoundTripsBackToBackFrames) {
  std::string wire;
  ASSERT_TRUE(EncodeFrame(SampleFrame(), &wire));
  RpcFrame second = SampleFrame();
  second.set_call_id(43);
  ASSERT_TRUE(EncodeFrame(second, &wire));
  EXPECT_EQ(wire.substr(0, 4), Header(static_cast<uint32_t>(SampleFrame().ByteSizeLong())));

  std::string_view input(wire);
  RpcFrame frame;
  ASSERT_EQ(DecodeFrame(&input, &frame), FrameDecodeStatus::kFrame);
  EXPECT_EQ(frame.SerializeAsString(), SampleFrame().SerializeAsString());
  ASSERT_EQ(DecodeFrame(&input, &frame), FrameDecodeStatus::kFrame);
  EXPECT_EQ(frame.call_id(), 43u);
  EXPECT_TRUE(input.empty());
  EXPECT_EQ(DecodeFrame(&input, &frame), FrameDecodeStatus::kNeedMore);
}

TEST(FrameCodecTest, EveryTruncationNeedsMoreAndConsumesNothing) {
  std::string wire;
  ASSERT_TRUE(EncodeFrame(SampleFrame(), &wire));
  for (size_t len = 0; len < wire.size(); ++len) {
    SCOPED_TRACE(len);
    std::string_view input(wire.data(), len);
    RpcFrame frame;
    EXPECT_EQ(DecodeFrame(&input, &frame), FrameDecodeStatus::kNeedMore);
    EXPECT_EQ(input.size(), len);
  }
}

TEST(FrameCodecTest, RejectsBadInput) {
  struct Case {
    const char* name;
    std::string wire;
    size_t max_bytes;
    FrameDecodeStatus want;
  };
  const Case cases[] = {
      {"length over the limit", Header(kMaxFrameBytes + 1), kMaxFrameBytes,
       FrameDecodeStatus::kTooLarge},
      {"largest length", Header(0xffffffffu) + "abc", kMaxFrameBytes,
       FrameDecodeStatus::kTooLarge},
      {"small limit", Header(100), 99, FrameDecodeStatus::kTooLarge},
      {"garbage body", Header(6) + std::string(6, '\xff'), kMaxFrameBytes,
       FrameDecodeStatus::kMalformed},
      {"field claims more than the body", Header(3) + std::string("\x2a\x10\x01", 3),
       kMaxFrameBytes, FrameDecodeStatus::kMalformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string_view input(c.wire);
    RpcFrame frame;
    EXPECT_EQ(DecodeFrame(&input, &frame, c.max_bytes), c.want);
    EXPECT_EQ(input.size(), c.wire.size());
  }
}

TEST(FrameCodecTest, EncodeRefusesFramesOverTheLimit) {
  RpcFrame frame = SampleFrame();
  std::string wire = "kept";
  EXPECT_FALSE(EncodeFrame(frame, &wire, frame.ByteSizeLong() - 1));
  EXPECT_EQ(wire, "kept");
  EXPECT_TRUE(EncodeFrame(frame, &wire, frame.ByteSizeLong()));
}

TEST(FrameCodecTest, EmptyFrameDecodes) {
  std::string wire = Header(0);
  std::string_view input(wire);
  RpcFrame frame;
  EXPECT_EQ(DecodeFrame(&input, &frame), FrameDecodeStatus::kFrame);
  EXPECT_TRUE(input.empty());
}

}  // namespace
}  // namespace kyv
