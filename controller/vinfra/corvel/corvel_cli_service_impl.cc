#include "controller/vinfra/corvel/corvel_cli_service_impl.h"

#include "platform/svc/svc_request_processor.h"
#include "platform/svc/task_queue.h"
#include "proto/options.pb.h"

CorvelCliServiceImpl::CorvelCliServiceImpl(CorvelServiceImpl* service)
    : p_corvel_service_(service),
      svc_q_name_(CorvelCliService::descriptor()->options().GetExtension(service_q_name)) {}

CorvelCliServiceImpl::~CorvelCliServiceImpl() { Terminate(); }

Syserr CorvelCliServiceImpl::Initialize(boost::asio::io_context* ios, RedisClientPtr client,
                                        TaskQueue* queue, Datastore* db) {
  ios_ = ios;
  p_redis_client_ = client;
  p_taskq_ = queue;
  p_datastore_ = db;
  p_req_processor_ = new SvcRequestProcessor(this);
  TaskQueue::CreateTaskQueue(svc_q_name_, "corvel_cli", false);
  TaskQueue::SubscribeToTaskQueuePattern(svc_q_name_, p_req_processor_, nullptr, nullptr);
  return SYSERR_SUCCESS;
}

Syserr CorvelCliServiceImpl::Terminate() {
  if (p_req_processor_ != nullptr) {
    TaskQueue::UnsubscribeFromTaskQueuePattern(svc_q_name_);
    delete p_req_processor_;
    p_req_processor_ = nullptr;
  }
  return SYSERR_SUCCESS;
}

// The handlers come with the diagnostic actions; until then each completes its call at once.
namespace {
void Complete(google::protobuf::Closure* done) {
  if (done != nullptr) done->Run();
}
}  // namespace

void CorvelCliServiceImpl::Read(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Spawn(google::protobuf::RpcController*, const VICreateSEReq*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Setmgmtip(google::protobuf::RpcController*, const VISetMgmtIpSEReq*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Modifymgmtip(google::protobuf::RpcController*, const VISetMgmtIpSEReq*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Remove(google::protobuf::RpcController*, const VIDeleteSEReq*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Setvnic(google::protobuf::RpcController*, const VISetvNicNwReq*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Rediscover(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Getsubfolders(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Getdatastores(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Verifylogin(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Gethostresources(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Faultinject(google::protobuf::RpcController*, const VIFaultInjection*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Vcenterstatus(google::protobuf::RpcController*, const VcenterCloudStatusReq*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Deletenetwork(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Retrievevcenterdcnws(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelCliServiceImpl::Makeaccessible(google::protobuf::RpcController*, const RPCRequest*, RPCResponse*,
                              google::protobuf::Closure* done) {
  Complete(done);
}
