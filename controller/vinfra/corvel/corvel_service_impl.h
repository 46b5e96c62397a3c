// The connector's RPC service: served to other controller services over the task queue and to
// the vCenter manager's notifications over TCP. Holds the configured vCenter inventories, the
// controller's identity, the counters of calls in flight at the vCenter manager, the service's
// timers and logger, and the fault-injection table.
#pragma once

#include <boost/asio/io_context.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/common/logger.h"
#include "platform/common/redis_client.h"
#include "proto/corvel_service.pb.h"
#include "proto/syserr.pb.h"
#include "proto/vcenter_mgr.pb.h"

class ClusterObject;
class CorvelInventory;
class ImageObject;
class SysConfObject;
class Datastore;
class SvcRequestProcessor;
class SvcTimer;
class TaskQueue;

class CorvelServiceImpl : public CorvelService {
 public:
  explicit CorvelServiceImpl(bool discovery);
  ~CorvelServiceImpl() override;

  // Subscribes to the service's task queue, sets up the logger, the timers, the datastore cache
  // and the watched configuration tables. The datastore must have its object client.
  Syserr Initialize(boost::asio::io_context* ios, RedisClientPtr client, TaskQueue* queue,
                    vCenterMgrService_Stub* vcenter_mgr_stub, Datastore* db);
  // Stops the task-queue subscription and the quarantine timer; everything else stays.
  Syserr Terminate();

  // The task-queue name: the `service_q_name` option of CorvelService.
  static std::string svc_q_name();

  // Reads the controller cluster's identity from the datastore. Throws when the datastore cannot
  // be read; the caller ends the process.
  void RetrieveControllerUUID();
  // RetrieveControllerUUID; when the identity cannot be read, logs it (also at error level) and
  // ends the process with status 0.
  void RetrieveControllerUUIDOrExit();

  // Called by the worker each time the link to the vCenter manager comes up.
  void HandleTcpUp();

  // 0 and the first inventory whose vCenter record key equals `vc_uuid`; else 1 and null.
  int VICheckVcenter(const std::string& vc_uuid, CorvelInventory** vcenter);
  // The inventory a notification is for: the first whose vCenter URL and datacenter uuid both
  // match exactly (case-sensitive); null (traced) when none does.
  CorvelInventory* RouteNotification(const std::string& vcenter_url, const std::string& dc_uuid);
  // The configured clouds, in creation order (owned by the service).
  std::vector<CorvelInventory*>& vcenter_map() { return vcenter_map_; }

  // Reactions to configuration changes (system configuration, controller cluster, SE images).
  void UpdateVcenterRuntimeStatus(SysConfObject* sysconf);
  void SysconfChangeCheckHostConnectivity();
  void UpdateClusterIpAddr(ClusterObject* cluster);
  void HandleImageTableChanges(ImageObject* image);

  // Arms the host quarantine timer (120 s); its expiry re-arms it.
  void StartQuarantineTimer();
  void QuarantineTimerExpiry();

  // SE creations in flight at the vCenter manager, at most kMaxOutstandingSeReq. True (with
  // its log line) when the limit is reached and no further creation may be sent.
  static constexpr int kMaxOutstandingSeReq = 4;
  bool SeCreateLimitReached();
  int num_outstanding_se_req() const { return num_outstanding_se_req_; }
  int num_outstanding_cloud_req() const { return num_outstanding_cloud_req_; }
  int num_outstanding_resync_req() const { return num_outstanding_resync_req_; }

  // Fault injection.
  bool CheckForFaultInject(FAULT_API_TYPE api, VCENTER_MGR_STATUS* status);
  void InsertFault(const VIFaultInjection& fault);

  // Served methods.
  void VIGlobalVMNotification(google::protobuf::RpcController* controller,
                              const VIGlobalVMNotif* request, VoidResponse* response,
                              google::protobuf::Closure* done) override;
  void VIGlobalResourceNotification(google::protobuf::RpcController* controller,
                                    const VIGlobalResourceNotif* request, VoidResponse* response,
                                    google::protobuf::Closure* done) override;
  void VIVcenterConnectStatus(google::protobuf::RpcController* controller,
                              const VIVcenterStatus* request, VoidResponse* response,
                              google::protobuf::Closure* done) override;
  void VIValidateVcenter(google::protobuf::RpcController* controller,
                         const VIValidateVcenterReq* request, VIValidateVcenterRsp* response,
                         google::protobuf::Closure* done) override;
  void VIConfigureAPICMode(google::protobuf::RpcController* controller, const APICMode* request,
                           VoidResponse* response, google::protobuf::Closure* done) override;
  void VIRediscoverVcenter(google::protobuf::RpcController* controller,
                           const VIVcenterRediscoverReq* request, VoidResponse* response,
                           google::protobuf::Closure* done) override;
  void VIAddInterestedVMs(google::protobuf::RpcController* controller,
                          const VIInterestedVMs* request, VoidResponse* response,
                          google::protobuf::Closure* done) override;
  void VIDelInterestedVMs(google::protobuf::RpcController* controller,
                          const VIInterestedVMs* request, VoidResponse* response,
                          google::protobuf::Closure* done) override;
  void VIQueryVcenterInventoryProgress(google::protobuf::RpcController* controller,
                                       const VIVcenterInventoryProgressReq* request,
                                       VIVcenterInventoryProgressRsp* response,
                                       google::protobuf::Closure* done) override;
  void VICreateSE(google::protobuf::RpcController* controller, const VICreateSEReq* request,
                  VICreateSERsp* response, google::protobuf::Closure* done) override;
  void VIDeleteSE(google::protobuf::RpcController* controller, const VIDeleteSEReq* request,
                  VIDeleteSERsp* response, google::protobuf::Closure* done) override;
  void VISetMgmtIpSE(google::protobuf::RpcController* controller, const VISetMgmtIpSEReq* request,
                     VISetMgmtIpSERsp* response, google::protobuf::Closure* done) override;
  void VIModifyMgmtIpSE(google::protobuf::RpcController* controller,
                        const VISetMgmtIpSEReq* request, VISetMgmtIpSERsp* response,
                        google::protobuf::Closure* done) override;
  void VISetvNicNw(google::protobuf::RpcController* controller, const VISetvNicNwReq* request,
                   VISetvNicNwRsp* response, google::protobuf::Closure* done) override;
  void VIQueryHostsCapability(google::protobuf::RpcController* controller,
                              const QueryHostsCapabilityReq* request,
                              QueryHostsCapabilityRsp* response,
                              google::protobuf::Closure* done) override;
  void VIGenEvent(google::protobuf::RpcController* controller, const VITestEventGen* request,
                  VoidResponse* response, google::protobuf::Closure* done) override;
  void VIVmPowerStateChange(google::protobuf::RpcController* controller,
                            const VIVMPowerStateChangeReq* request,
                            VIVMPowerStateChangeRsp* response,
                            google::protobuf::Closure* done) override;
  void VIModifyNetworkTenant(google::protobuf::RpcController* controller,
                             const VITenantNetworkMap* request, VoidResponse* response,
                             google::protobuf::Closure* done) override;

  // Accessors.
  Logger* logger() { return p_logger_; }
  const std::string& controller_uuid() const { return controller_uuid_; }
  const std::string& controller_vm_mor() const { return controller_vm_mor_; }
  const std::vector<std::string>& controller_ips() const { return controller_ips_; }
  boost::asio::io_context* ios() { return ios_; }
  vCenterMgrService_Stub* vcenter_mgr_stub() { return p_vcenter_mgr_stub_; }
  const std::map<FAULT_API_TYPE, VIFaultInjection>& fault_map() const { return fault_map_; }
  // Number of times the link came up (HandleTcpUp calls) in this process.
  int tcp_up_count() const { return tcp_up_count_; }

 private:
  std::vector<CorvelInventory*> vcenter_map_;
  std::vector<std::string> controller_ips_;
  vCenterMgrService_Stub* p_vcenter_mgr_stub_ = nullptr;
  std::string controller_uuid_;
  std::string controller_vm_mor_;
  int num_outstanding_se_req_ = 0;
  int num_outstanding_cloud_req_ = 0;
  int num_outstanding_resync_req_ = 0;
  std::shared_ptr<SvcTimer> reload_process_vcenter_disc_timer_;
  boost::asio::io_context* ios_ = nullptr;
  RedisClientPtr p_redis_client_;
  TaskQueue* p_taskq_ = nullptr;
  Datastore* p_datastore_ = nullptr;
  SvcRequestProcessor* p_corvel_req_processor_ = nullptr;
  std::string svc_q_name_;
  Logger* p_logger_ = nullptr;
  bool initiate_vcenter_discovery_;
  std::shared_ptr<SvcTimer> host_quarantine_timer_;
  std::map<FAULT_API_TYPE, VIFaultInjection> fault_map_;
  int cntlr_host_check_count_ = 0;

  int tcp_up_count_ = 0;
};
