#include "platform/svc/rpc_status_controller.h"

namespace kyv {

RpcStatusController::~RpcStatusController() { RunCancelCallback(); }

void RpcStatusController::Reset() {
  failed_ = false;
  error_code_ = SYSERR_SUCCESS;
  error_text_.clear();
  RunCancelCallback();
}

void RpcStatusController::SetFailed(const std::string& reason) {
  SetFailed(SYSERR_RPC_FAILURE, reason);
}

void RpcStatusController::SetFailed(Syserr code, const std::string& reason) {
  failed_ = true;
  error_code_ = code == SYSERR_SUCCESS ? SYSERR_RPC_FAILURE : code;
  error_text_ = reason;
}

void RpcStatusController::NotifyOnCancel(google::protobuf::Closure* callback) {
  RunCancelCallback();
  cancel_callback_ = callback;
}

void RpcStatusController::RunCancelCallback() {
  google::protobuf::Closure* cb = cancel_callback_;
  cancel_callback_ = nullptr;
  if (cb) cb->Run();
}

}  // namespace kyv
