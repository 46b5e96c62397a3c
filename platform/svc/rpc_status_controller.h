// The failure state shared by the framework's RPC controllers.
#pragma once

#include <google/protobuf/service.h>

#include <string>

#include "proto/syserr.pb.h"

namespace kyv {

// An RpcController that records whether a call failed, why (text) and how (a Syserr code).
// Cancellation is not supported: StartCancel does nothing and IsCanceled is always false.
class RpcStatusController : public google::protobuf::RpcController {
 public:
  RpcStatusController() = default;
  // Runs a closure given to NotifyOnCancel that has not run yet.
  ~RpcStatusController() override;
  RpcStatusController(const RpcStatusController&) = delete;
  RpcStatusController& operator=(const RpcStatusController&) = delete;

  // Clears the failure state and runs a pending NotifyOnCancel closure.
  void Reset() override;
  bool Failed() const override { return failed_; }
  std::string ErrorText() const override { return error_text_; }
  void StartCancel() override {}
  // Marks the call failed with SYSERR_RPC_FAILURE.
  void SetFailed(const std::string& reason) override;
  bool IsCanceled() const override { return false; }
  // Calls are never cancelled: `callback` runs once, at Reset or destruction.
  void NotifyOnCancel(google::protobuf::Closure* callback) override;

  // Marks the call failed with `code` (SYSERR_SUCCESS is recorded as SYSERR_RPC_FAILURE).
  void SetFailed(Syserr code, const std::string& reason);
  // SYSERR_SUCCESS unless the call failed.
  Syserr error_code() const { return error_code_; }

 private:
  void RunCancelCallback();

  bool failed_ = false;
  Syserr error_code_ = SYSERR_SUCCESS;
  std::string error_text_;
  google::protobuf::Closure* cancel_callback_ = nullptr;
};

}  // namespace kyv
