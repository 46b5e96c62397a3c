// The convention of every call to the vCenter manager.
//
// Two-way call: the caller allocates a call context and the request; CorvelVcMgrCall creates
// the TcpClientRpcController (1200 s, or 60 s for GetDCNetworks) and stores it in the context,
// makes the stub call with a self-deleting closure that runs the response handler once (when
// the answer arrives, the deadline passes or the link fails), and deletes the request right
// after the stub call. The handler checks the controller first (Failed(): the call timed out),
// completes the served call if there is one, and frees the response, the controller and the
// context (CorvelFreeApiCall / CorvelFreeInventoryCall).
//
// One-way call: CorvelVcMgrOneWay creates a controller, calls the stub with no response and no
// closure, and deletes the request and the controller at once. Nothing ever calls back.
#pragma once

#include <google/protobuf/message.h>
#include <google/protobuf/service.h>
#include <google/protobuf/stubs/callback.h>

#include <string>

#include "platform/svc/tcp/tcp_client_rpc_controller.h"
#include "proto/corvel_enums.pb.h"
#include "proto/vcenter_mgr.pb.h"

class CorvelServiceImpl;
class Transaction;

// Time-outs of calls to the vCenter manager, in seconds.
constexpr int kVcMgrCallTimeoutSec = 1200;
constexpr int kVcMgrNetworksTimeoutSec = 60;

// Context of a call made on behalf of a served method.
struct CorvelApiCallback_ {
  google::protobuf::RpcController* rpc_controller = nullptr;  // the served call's controller
  TcpClientRpcController* tcp_rpc_controller = nullptr;       // the call to the vCenter manager
  const google::protobuf::Message* request = nullptr;         // the served request
  google::protobuf::Message* response = nullptr;              // the served response
  class CorvelServiceImpl* CorvelServiceImpl = nullptr;
  google::protobuf::Closure* done = nullptr;                  // completes the served call
  int num_outstanding_vcenter_req = 0;
};

// Context of a call made by an inventory (discovery, monitors, reload).
struct CorvelInventoryCallback_ {
  TcpClientRpcController* tcp_rpc_controller = nullptr;
  google::protobuf::Message* response = nullptr;  // the call's response record
  std::string vcenter_url;
  std::string vc_uuid;
  std::string dc_uuid;
  std::string cloud_uuid;
  std::string se_ver;
  std::string se_image_path;
  void* corvel_callback = nullptr;  // a served call's context waiting for this one, or null
  VNicVmType vnic_vm_type = SEVM_DISCOVERY;
  Transaction* txn = nullptr;
};

// A generated stub method of vCenterMgrService.
template <typename Req, typename Rsp>
using VcMgrMethod = void (vCenterMgrService_Stub::*)(google::protobuf::RpcController*,
                                                     const Req*, Rsp*, google::protobuf::Closure*);

// Sends a two-way call. Takes `request` (deleted before returning) and hands `response` to
// `done`, which must free it with the context. `ctx` gets the new controller.
template <typename Req, typename Rsp, typename Ctx>
void CorvelVcMgrCall(vCenterMgrService_Stub* stub, VcMgrMethod<Req, Rsp> method, Req* request,
                     Rsp* response, Ctx* ctx, google::protobuf::Closure* done,
                     int timeout_sec = kVcMgrCallTimeoutSec) {
  ctx->tcp_rpc_controller = new TcpClientRpcController(stub, timeout_sec);
  (stub->*method)(ctx->tcp_rpc_controller, request, response, done);
  delete request;
}

// API call: the handler gets (response, context).
template <typename Req, typename Rsp, typename Obj>
void CorvelVcMgrApiCall(vCenterMgrService_Stub* stub, VcMgrMethod<Req, Rsp> method, Req* request,
                        CorvelApiCallback_* ctx, Obj* obj,
                        void (Obj::*handler)(Rsp*, CorvelApiCallback_*),
                        int timeout_sec = kVcMgrCallTimeoutSec) {
  Rsp* response = new Rsp();
  CorvelVcMgrCall(stub, method, request, response, ctx,
                  google::protobuf::NewCallback(obj, handler, response, ctx), timeout_sec);
}

// Inventory call: the response travels in ctx->response; the handler gets the context.
template <typename Req, typename Rsp, typename Obj>
void CorvelVcMgrInventoryCall(vCenterMgrService_Stub* stub, VcMgrMethod<Req, Rsp> method,
                              Req* request, CorvelInventoryCallback_* ctx, Obj* obj,
                              void (Obj::*handler)(CorvelInventoryCallback_*),
                              int timeout_sec = kVcMgrCallTimeoutSec) {
  Rsp* response = new Rsp();
  ctx->response = response;
  CorvelVcMgrCall(stub, method, request, response, ctx,
                  google::protobuf::NewCallback(obj, handler, ctx), timeout_sec);
}

// Inventory call whose handler gets both the typed response and the context (the reload's
// validation).
template <typename Req, typename Rsp, typename Obj>
void CorvelVcMgrInventoryCall(vCenterMgrService_Stub* stub, VcMgrMethod<Req, Rsp> method,
                              Req* request, CorvelInventoryCallback_* ctx, Obj* obj,
                              void (Obj::*handler)(Rsp*, CorvelInventoryCallback_*),
                              int timeout_sec = kVcMgrCallTimeoutSec) {
  Rsp* response = new Rsp();
  ctx->response = response;
  CorvelVcMgrCall(stub, method, request, response, ctx,
                  google::protobuf::NewCallback(obj, handler, response, ctx), timeout_sec);
}

// Sends a one-way call and deletes `request`. No callback, whatever the link's state.
template <typename Req>
void CorvelVcMgrOneWay(vCenterMgrService_Stub* stub,
                       VcMgrMethod<Req, VoidResponse> method, Req* request) {
  auto* controller = new TcpClientRpcController(stub, kVcMgrCallTimeoutSec);
  (stub->*method)(controller, request, nullptr, nullptr);
  delete request;
  delete controller;
}

// Completes the served call of an API context: runs its SvcRpcController's callback (or
// `done` when the served controller carries none). Runs at most once per context.
void CorvelCompleteApiCall(CorvelApiCallback_* ctx);

// Frees what a two-way API call allocated: the response, the TCP controller and the context.
void CorvelFreeApiCall(google::protobuf::Message* response, CorvelApiCallback_* ctx);
// Frees what a two-way inventory call allocated: ctx->response, the controller and the context.
void CorvelFreeInventoryCall(CorvelInventoryCallback_* ctx);
