// An EchoService for the framework's tests and benchmarks.
#pragma once

#include <google/protobuf/service.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/svc/svc_rpc_controller.h"
#include "platform/svc/testing/echo_service.pb.h"

namespace kyv {
namespace testing {

// Echo answers with the request's text and value, as the request's text asks:
//   "fail"          fails the call (SYSERR_RPC_FAILURE, "asked to fail")
//   "hold"          keeps the call open until CompleteHeld()
//   "via_callback"  completes through the served SvcRpcController's get_callback()
//   "defer"         completes from a handler given to the `defer` hook
// Notify counts its calls. Strict answers an empty response.
class EchoServiceImpl : public EchoService {
 public:
  struct Held {
    EchoResponse* response;
    google::protobuf::Closure* done;
  };

  void Echo(google::protobuf::RpcController* controller, const EchoRequest* request,
            EchoResponse* response, google::protobuf::Closure* done) override {
    ++echo_calls;
    const std::string& text = request->text();
    if (text == "fail") {
      controller->SetFailed("asked to fail");
      done->Run();
      return;
    }
    response->set_text(text);
    response->set_value(request->value());
    if (text == "hold") {
      held.push_back({response, done});
    } else if (text == "via_callback") {
      auto* served = dynamic_cast<SvcRpcController*>(controller);
      callback_was_done = served != nullptr && served->get_callback() == done;
      served->get_callback()->Run();
    } else if (text == "defer" && defer) {
      defer([done] { done->Run(); });
    } else {
      done->Run();
    }
  }

  void Notify(google::protobuf::RpcController*, const EchoRequest* request, EchoResponse*,
              google::protobuf::Closure* done) override {
    ++notify_calls;
    last_notify = request->text();
    done->Run();
  }

  void Strict(google::protobuf::RpcController*, const StrictRequest*, EchoResponse*,
              google::protobuf::Closure* done) override {
    done->Run();
  }

  // Completes every held call, with `text` as the response's text.
  void CompleteHeld(const std::string& text = "late") {
    std::vector<Held> calls;
    calls.swap(held);
    for (Held& call : calls) {
      call.response->set_text(text);
      call.done->Run();
    }
  }

  int echo_calls = 0;
  int notify_calls = 0;
  std::string last_notify;
  bool callback_was_done = false;
  std::vector<Held> held;
  // Runs the completion of a "defer" call later (e.g. posts it to an I/O context).
  std::function<void(std::function<void()>)> defer;
};

}  // namespace testing
}  // namespace kyv
