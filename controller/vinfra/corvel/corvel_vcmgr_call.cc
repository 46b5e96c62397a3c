#include "controller/vinfra/corvel/corvel_vcmgr_call.h"

#include "platform/svc/svc_rpc_controller.h"

void CorvelCompleteApiCall(CorvelApiCallback_* ctx) {
  google::protobuf::Closure* done = ctx->done;
  if (auto* svc_ctrl = dynamic_cast<SvcRpcController*>(ctx->rpc_controller)) {
    if (svc_ctrl->get_callback() != nullptr) done = svc_ctrl->get_callback();
  }
  ctx->done = nullptr;
  ctx->rpc_controller = nullptr;
  if (done != nullptr) done->Run();
}

void CorvelFreeApiCall(google::protobuf::Message* response, CorvelApiCallback_* ctx) {
  delete response;
  if (ctx == nullptr) return;
  delete ctx->tcp_rpc_controller;
  delete ctx;
}

void CorvelFreeInventoryCall(CorvelInventoryCallback_* ctx) {
  if (ctx == nullptr) return;
  delete ctx->response;
  delete ctx->tcp_rpc_controller;
  delete ctx;
}
