// The controller of calls carried over the task queue, on both sides of a call.
#pragma once

#include <google/protobuf/service.h>

#include "platform/svc/rpc_status_controller.h"

// Caller side: carries the call's time-out and, after completion, its failure state.
// Served side: created by the framework for each served call; get_callback() returns the
// call's completion closure (the same closure that CallMethod received as `done`), so a
// handler may complete the call through either.
class SvcRpcController : public kyv::RpcStatusController {
 public:
  // `timeout_ms` <= 0: no time-out.
  explicit SvcRpcController(int timeout_ms = 0) : timeout_ms_(timeout_ms) {}

  // The completion closure of the served call, or nullptr. Not owned: running it completes
  // the call and frees it.
  google::protobuf::Closure* get_callback() const { return callback_; }
  void set_callback(google::protobuf::Closure* callback) { callback_ = callback; }

  // Time a caller waits for the answer, in milliseconds; <= 0 waits without limit.
  int timeout_ms() const { return timeout_ms_; }
  void set_timeout_ms(int timeout_ms) { timeout_ms_ = timeout_ms; }

 private:
  google::protobuf::Closure* callback_ = nullptr;
  int timeout_ms_;
};
