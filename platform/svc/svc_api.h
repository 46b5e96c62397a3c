// A call to another service over the task queue, with everything it needs in one object.
#pragma once

#include <memory>
#include <string>

#include "platform/svc/svc_rpc_channel.h"
#include "platform/svc/svc_rpc_controller.h"

// Holds a request, a response, a SvcRpcController with the time-out, a SvcRpcChannel and a
// `Stub` (a generated service stub) on that channel; owns them all. Typical uses:
//  - one-way: fill *request, call rpc_stub()->Method(rpc_controller(), request, response,
//    nullptr) and delete the SvcApi at once;
//  - asynchronous: pass a closure that reads *response and deletes the SvcApi; the closure
//    runs once (see SvcRpcChannel);
//  - synchronous: channel()->set_async(false), call without a closure, read the result on
//    return, delete the SvcApi.
template <class Req, class Rsp, class Stub>
class SvcApi {
 public:
  // Time-out of a two-way call in seconds (<= 0: none).
  explicit SvcApi(int timeout_in_sec)
      : controller_(TimeoutMs(timeout_in_sec, 0)),
        channel_(std::make_unique<SvcRpcChannel>()),
        stub_(std::make_unique<Stub>(channel_.get())) {}
  // `uuid` is the channel key and `exclusive` its mode (see SvcRpcChannel); the time-out is
  // timeout_in_sec seconds plus millisec milliseconds.
  SvcApi(const std::string& uuid, bool exclusive, int timeout_in_sec, int millisec = 0)
      : controller_(TimeoutMs(timeout_in_sec, millisec)),
        channel_(std::make_unique<SvcRpcChannel>(uuid, exclusive)),
        stub_(std::make_unique<Stub>(channel_.get())) {}
  SvcApi(const SvcApi&) = delete;
  SvcApi& operator=(const SvcApi&) = delete;

  Stub* rpc_stub() { return stub_.get(); }
  SvcRpcController* rpc_controller() { return &controller_; }
  SvcRpcChannel* channel() { return channel_.get(); }

 private:
  static int TimeoutMs(int seconds, int millisec) {
    const long long ms = static_cast<long long>(seconds) * 1000 + millisec;
    return ms <= 0 ? 0 : ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms);
  }

  Req request_;
  Rsp response_;
  SvcRpcController controller_;
  std::unique_ptr<SvcRpcChannel> channel_;
  std::unique_ptr<Stub> stub_;

 public:
  // The call's request and response, owned by the SvcApi.
  Req* const request = &request_;
  Rsp* const response = &response_;
};
