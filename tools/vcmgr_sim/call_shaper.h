// Test knobs on the server side of the link: latency, dropped links, calls never answered.
#pragma once

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <map>
#include <memory>

#include "platform/common/clock.h"
#include "platform/svc/tcp/tcp_processor.h"

namespace vcmgr_sim {

// Stands between a TcpServer and the processor that serves the calls, and changes how calls
// are served:
// - latency_ms > 0: every frame (two-way or one-way) waits that long on a timer of the
//   process clock before it is served, so order is kept and the I/O thread never sleeps;
// - drop_after > 0: after every drop_after frames the server has served, the next frame is
//   not served and the connection it came on is closed;
// - no_answer: two-way calls are served (their effects happen) but their answers are thrown
//   away.
// Single-threaded; `inner` must outlive the shaper.
class CallShaper : public TcpReqProcessor {
 public:
  struct Options {
    int latency_ms = 0;
    int drop_after = 0;
    bool no_answer = false;
  };

  CallShaper(boost::asio::io_context& io, TcpReqProcessor* inner, Options options)
      : io_(io), inner_(inner), options_(options) {}

  bool ProcessRequest(kyv::RpcFrame&& frame, const kyv::FramePeer& peer) override;

  // Connections closed by drop_after.
  uint64_t drops() const { return drops_; }
  // Frames waiting for their latency to pass.
  size_t delayed() const { return delayed_.size(); }

 private:
  void Serve(kyv::RpcFrame&& frame, const kyv::FramePeer& peer);

  boost::asio::io_context& io_;
  TcpReqProcessor* inner_;
  Options options_;
  int64_t served_since_drop_ = 0;
  uint64_t drops_ = 0;
  uint64_t next_id_ = 0;
  std::map<uint64_t, std::unique_ptr<kyv::TimerHandle>> delayed_;
};

}  // namespace vcmgr_sim
