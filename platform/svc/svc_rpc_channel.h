// An RpcChannel that carries a generated stub's calls over the task queue.
#pragma once

#include <google/protobuf/service.h>

#include <memory>
#include <string>

#include "platform/svc/svc_rpc_controller.h"

// Routes each call to the task queue named by the `service_q_name` option of the method's
// service, whose subscriber runs it on the process queue's I/O context. The request is
// copied during CallMethod; the callee works on its own copies, so the caller's objects are
// touched only when the call completes.
//
// Asynchronous (the default):
//  - with a closure: the closure runs exactly once, posted to the I/O context (never inside
//    CallMethod), after the response was filled or the controller marked failed: the callee
//    failed (its error code and text), no subscriber (SYSERR_RPC_NO_SUBSCRIBER), or the
//    SvcRpcController's time-out passed first (SYSERR_RPC_TIMED_OUT; a late answer is dropped).
//    The caller keeps controller and response until the closure runs.
//  - without a closure: one-way, fire and forget; the response and the controller are not
//    kept (the caller may free them on return). With no subscriber the call is dropped with a
//    log line and the controller marked failed before CallMethod returns.
// Synchronous (set_async(false)): CallMethod returns once the call completed as above, with or
// without a closure (a closure still runs later, posted). A callee that answers inline
// completes before any waiting. Otherwise the I/O context is run one handler at a time, from
// inside CallMethod, until the answer is there or the time-out passes, so other work of the
// process runs meanwhile (a context that ran out of work, and so stopped, is restarted for
// this). Under a fake clock, when nothing is left to run the clock is moved
// to the deadline; without a deadline the call then fails rather than hang.
//
// Without a process TaskQueue there is no I/O context: a two-way call fails at once and its
// closure runs inside CallMethod.
class SvcRpcChannel : public google::protobuf::RpcChannel {
 public:
  SvcRpcChannel();
  // `key` and `exclusive` name a serialisation domain for the calls; calls of this process
  // are already run one at a time in order, so both are only kept.
  SvcRpcChannel(const std::string& key, bool exclusive);
  // Calls still pending complete without touching the caller's objects; their closures are
  // dropped with a log line.
  ~SvcRpcChannel() override;
  SvcRpcChannel(const SvcRpcChannel&) = delete;
  SvcRpcChannel& operator=(const SvcRpcChannel&) = delete;

  void CallMethod(const google::protobuf::MethodDescriptor* method,
                  google::protobuf::RpcController* controller,
                  const google::protobuf::Message* request, google::protobuf::Message* response,
                  google::protobuf::Closure* done) override;

  void set_async(bool async) { async_ = async; }
  bool async() const { return async_; }
  const std::string& key() const { return key_; }
  bool exclusive() const { return exclusive_; }

 private:
  struct Call;
  static void Finish(const std::shared_ptr<Call>& call, Syserr code, const std::string& text,
                     const google::protobuf::Message* answer);
  static void Wait(const std::shared_ptr<Call>& call);

  std::string key_;
  bool exclusive_ = false;
  bool async_ = true;
  // Calls hold a weak reference: once it expires the caller's objects are off limits.
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};
