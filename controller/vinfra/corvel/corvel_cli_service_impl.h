// The connector's diagnostic RPC service behind the controller's command-line tools: object
// dumps, host resources, cloud status, and actions forwarded to the connector's main service or
// to the vCenter manager.
#pragma once

#include <boost/asio/io_context.hpp>

#include <string>

#include "platform/common/redis_client.h"
#include "proto/corvel_cli.pb.h"
#include "proto/syserr.pb.h"

class CorvelServiceImpl;
class Datastore;
class SvcRequestProcessor;
class TaskQueue;

class CorvelCliServiceImpl : public CorvelCliService {
 public:
  // `service` is the connector's main service; not owned.
  explicit CorvelCliServiceImpl(CorvelServiceImpl* service);
  ~CorvelCliServiceImpl() override;

  // Subscribes to the diagnostic service's task queue.
  Syserr Initialize(boost::asio::io_context* ios, RedisClientPtr client, TaskQueue* queue,
                    Datastore* db);
  Syserr Terminate();

  // Retrievevcenterdcs is not overridden: the generated default answers it.
  void Read(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Spawn(google::protobuf::RpcController* controller, const VICreateSEReq* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Setmgmtip(google::protobuf::RpcController* controller, const VISetMgmtIpSEReq* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Modifymgmtip(google::protobuf::RpcController* controller, const VISetMgmtIpSEReq* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Remove(google::protobuf::RpcController* controller, const VIDeleteSEReq* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Setvnic(google::protobuf::RpcController* controller, const VISetvNicNwReq* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Rediscover(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Getsubfolders(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Getdatastores(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Verifylogin(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Gethostresources(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Faultinject(google::protobuf::RpcController* controller, const VIFaultInjection* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Vcenterstatus(google::protobuf::RpcController* controller, const VcenterCloudStatusReq* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Deletenetwork(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Retrievevcenterdcnws(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;
  void Makeaccessible(google::protobuf::RpcController* controller, const RPCRequest* request,
           RPCResponse* response, google::protobuf::Closure* done) override;

 private:
  CorvelServiceImpl* p_corvel_service_;
  boost::asio::io_context* ios_ = nullptr;
  RedisClientPtr p_redis_client_;
  TaskQueue* p_taskq_ = nullptr;
  Datastore* p_datastore_ = nullptr;
  SvcRequestProcessor* p_req_processor_ = nullptr;
  std::string svc_q_name_;
};
