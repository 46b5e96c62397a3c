#include "tools/vcmgr_sim/call_shaper.h"

#include <glog/logging.h>

#include <chrono>
#include <utility>

namespace vcmgr_sim {

bool CallShaper::ProcessRequest(kyv::RpcFrame&& frame, const kyv::FramePeer& peer) {
  if (options_.drop_after > 0 && served_since_drop_ >= options_.drop_after) {
    served_since_drop_ = 0;
    ++drops_;
    LOG(INFO) << "closing the connection after " << options_.drop_after << " calls (--drop_after)";
    return false;  // the server closes the connection
  }
  ++served_since_drop_;
  if (options_.latency_ms <= 0) {
    Serve(std::move(frame), peer);
    return true;
  }
  const uint64_t id = next_id_++;
  auto held = std::make_shared<kyv::RpcFrame>(std::move(frame));
  delayed_[id] = kyv::GetClock().Schedule(io_, std::chrono::milliseconds(options_.latency_ms),
                                          [this, id, held, peer] {
                                            auto node = delayed_.extract(id);
                                            Serve(std::move(*held), peer);
                                          });
  return true;
}

void CallShaper::Serve(kyv::RpcFrame&& frame, const kyv::FramePeer& peer) {
  // A peer without connection swallows the answer.
  const kyv::FramePeer target = options_.no_answer ? kyv::FramePeer() : peer;
  if (!inner_->ProcessRequest(std::move(frame), target)) peer.Close();
}

}  // namespace vcmgr_sim
