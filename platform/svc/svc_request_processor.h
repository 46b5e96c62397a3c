// Runs a service's methods for requests that reach it over the task queue or TCP.
#pragma once

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/service.h>

#include <functional>
#include <memory>

#include "platform/svc/svc_rpc_controller.h"

// The consumer of a task queue: dispatches each request to its service's CallMethod with a
// fresh served-side SvcRpcController (whose get_callback() is the call's completion closure),
// the request and an empty response. Runs on the thread of the I/O context.
class SvcRequestProcessor {
 public:
  // Result of a served call, given once when the service completes it (inline or later).
  // `controller` carries the service's failure state; both references are valid only for
  // the duration of the callback.
  using CallDone = std::function<void(const SvcRpcController& controller,
                                      const google::protobuf::Message& response)>;

  // `service` is not owned and must outlive the processor.
  explicit SvcRequestProcessor(google::protobuf::Service* service);
  virtual ~SvcRequestProcessor() = default;

  google::protobuf::Service* service() const { return service_; }

  // Runs `method` with `request`. A method of another service, or a request of the wrong
  // type, is not dispatched: `on_done` runs at once with SYSERR_RPC_BAD_REQUEST. `on_done`
  // may be empty (one-way). A service that never completes the call leaks it.
  virtual void Dispatch(const google::protobuf::MethodDescriptor* method,
                        std::unique_ptr<google::protobuf::Message> request, CallDone on_done);

 private:
  google::protobuf::Service* service_;
};
