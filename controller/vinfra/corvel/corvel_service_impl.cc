#include "controller/vinfra/corvel/corvel_service_impl.h"

#include <glog/logging.h>

#include <cstdlib>
#include <stdexcept>

#include "controller/vinfra/corvel/corvel_config_watchers.h"
#include "controller/vinfra/corvel/corvel_events.h"
#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_inventory.h"
#include "platform/datastore/datastore.h"
#include "platform/datastore/db_cache.h"
#include "platform/datastore/transaction.h"
#include "platform/svc/svc_request_processor.h"
#include "platform/svc/svc_timer.h"
#include "platform/svc/task_queue.h"
#include "proto/config.pb.h"
#include "proto/options.pb.h"

namespace {
constexpr int kQuarantineTimerMs = 120000;
constexpr int kReloadTimerMs = 20000;
}  // namespace

CorvelServiceImpl::CorvelServiceImpl(bool discovery)
    : svc_q_name_(svc_q_name()), initiate_vcenter_discovery_(discovery) {
  CorvelGlobals::SetGlobalInstance(this);
}

CorvelServiceImpl::~CorvelServiceImpl() {
  Terminate();
  if (reload_process_vcenter_disc_timer_) reload_process_vcenter_disc_timer_->Stop();
  for (CorvelInventory* inv : vcenter_map_) delete inv;
}

int CorvelServiceImpl::VICheckVcenter(const std::string& vc_uuid, CorvelInventory** vcenter) {
  for (CorvelInventory* inv : vcenter_map_) {
    if (inv->vcentercloud_uuid_ == vc_uuid) {
      *vcenter = inv;
      return 0;
    }
  }
  *vcenter = nullptr;
  return 1;
}

std::string CorvelServiceImpl::svc_q_name() {
  return CorvelService::descriptor()->options().GetExtension(service_q_name);
}

Syserr CorvelServiceImpl::Initialize(boost::asio::io_context* ios, RedisClientPtr client,
                                     TaskQueue* queue, vCenterMgrService_Stub* vcenter_mgr_stub,
                                     Datastore* db) {
  ios_ = ios;
  p_redis_client_ = client;
  p_taskq_ = queue;
  p_datastore_ = db;
  num_outstanding_se_req_ = 0;
  num_outstanding_cloud_req_ = 0;
  num_outstanding_resync_req_ = 0;

  p_corvel_req_processor_ = new SvcRequestProcessor(this);
  TaskQueue::CreateTaskQueue(svc_q_name_, "corvel", false);
  TaskQueue::SubscribeToTaskQueuePattern(svc_q_name_, p_corvel_req_processor_, nullptr, nullptr);

  p_logger_ = Logger::GetLogger(CORVEL_DEBUG);
  p_logger_->flags_ |= Logger::kLogFlag | Logger::kTraceFlag;
  p_logger_->log_level_ = 2;
  p_logger_->trace_level_ = TRACE_LEVEL_DEBUG_DETAIL;

  p_vcenter_mgr_stub_ = vcenter_mgr_stub;

  host_quarantine_timer_ = std::make_shared<SvcTimer>(kQuarantineTimerMs);
  StartQuarantineTimer();
  reload_process_vcenter_disc_timer_ = std::make_shared<SvcTimer>(kReloadTimerMs);

  if (DbCache::g_db_cache_ == nullptr) {
    CHECK(db != nullptr && db->object_client() != nullptr)
        << "the datastore needs its object client before the connector starts";
    // The process keeps the cache for its whole life.
    DbCache::g_db_cache_ = new DbCache(db, db->object_client()->io_service());
  }
  DbCache* cache = DbCache::g_db_cache_;
  SysConfObject::StartMonitoring(cache, SysconfChange_cb);
  ClusterObject::StartMonitoring(cache, ClusterChange_cb);
  ImageObject::StartMonitoring(cache, ImageChange_cb);
  CloudObjects::StartMonitoring(cache);

  if (db != nullptr) db->db_txn_disabled_ = true;
  TRACE(p_logger_, TRACE_LEVEL_DEBUG_DETAIL) << "Corvel service Initialized";
  return SYSERR_SUCCESS;
}

Syserr CorvelServiceImpl::Terminate() {
  if (p_corvel_req_processor_ != nullptr) {
    TaskQueue::UnsubscribeFromTaskQueuePattern(svc_q_name_);
    delete p_corvel_req_processor_;
    p_corvel_req_processor_ = nullptr;
  }
  if (host_quarantine_timer_) host_quarantine_timer_->Stop();
  return SYSERR_SUCCESS;
}

void CorvelServiceImpl::StartQuarantineTimer() {
  host_quarantine_timer_->Start(*ios_, [this] { QuarantineTimerExpiry(); });
}

void CorvelServiceImpl::QuarantineTimerExpiry() {
  // Releasing quarantined hosts comes with the host quarantine; the timer keeps its period.
  StartQuarantineTimer();
}

void CorvelServiceImpl::RetrieveControllerUUID() {
  // Transactions run on the process datastore.
  if (Datastore::g_db_ == nullptr) throw std::runtime_error("no process datastore");
  auto* txn = new Transaction();
  std::vector<DbIndex> indexes;
  const std::string table = db_table_name_from_pb(Cluster::descriptor()->name());
  if (txn->db_view()->GetAllObjects(table, &indexes) != SYSERR_SUCCESS) {
    txn->Abort(false);
    throw std::runtime_error("cannot list the controller cluster table");
  }
  for (const DbIndex& index : indexes) {
    google::protobuf::Message* obj = nullptr;
    google::protobuf::Message* obj_runtime = nullptr;
    txn->db_view()->GetObjectFromDb(index, &obj, &obj_runtime, false);
    const Cluster* cluster = dynamic_cast<const Cluster*>(obj);
    if (cluster != nullptr) {
      controller_uuid_ = cluster->uuid();
      TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "Controller UUID : " << controller_uuid_;
      if (cluster->nodes_size() > 0) {
        controller_vm_mor_ = cluster->nodes(0).vm_mor();
        TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "Controller VM MOR : " << controller_vm_mor_;
      }
      if (controller_ips_.empty()) {
        if (cluster->has_virtual_ip()) {
          controller_ips_.push_back(cluster->virtual_ip().addr());
          TRACE(p_logger_, TRACE_LEVEL_DEBUG) << " Controller VIP : " << cluster->virtual_ip().addr();
        }
        for (const auto& node : cluster->nodes()) {
          controller_ips_.push_back(node.ip().addr());
          TRACE(p_logger_, TRACE_LEVEL_DEBUG) << " Controller IPs : " << node.ip().addr();
        }
      }
    }
    delete obj;
    delete obj_runtime;
  }
  txn->Commit(false);
}

void CorvelServiceImpl::HandleTcpUp() {
  ++tcp_up_count_;
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "TCP UP count : " << tcp_up_count_;
  RetrieveControllerUUIDOrExit();
}

void CorvelServiceImpl::RetrieveControllerUUIDOrExit() {
  try {
    RetrieveControllerUUID();
  } catch (const std::exception& e) {
    TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "Not able to retrieve Controller UUID. Exiting";
    LOG(ERROR) << "Not able to retrieve Controller UUID. Exiting (" << e.what() << ")";
    google::FlushLogFiles(google::GLOG_INFO);
    std::exit(0);
  }
}

// ---------------------------------------------------------------------------------------------
// Reactions to configuration changes. Their bodies come with the cloud configuration area;
// until then a change is only traced.

void CorvelServiceImpl::UpdateVcenterRuntimeStatus(SysConfObject*) {
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << ":";
}

void CorvelServiceImpl::SysconfChangeCheckHostConnectivity() {
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << ":";
}

void CorvelServiceImpl::UpdateClusterIpAddr(ClusterObject*) {
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << ":";
}

void CorvelServiceImpl::HandleImageTableChanges(ImageObject*) {
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << ":";
}

bool CorvelServiceImpl::SeCreateLimitReached() {
  if (num_outstanding_se_req_ < kMaxOutstandingSeReq) return false;
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "Num outstanding SE create requests : "
                                      << num_outstanding_se_req_ << " Limit reached : "
                                      << kMaxOutstandingSeReq;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Fault injection

void CorvelServiceImpl::InsertFault(const VIFaultInjection& fault) {
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "Creating Fault in corvel : " << fault.api();
  if (fault.api() == CLEAR_ALL_FAULTS) {
    fault_map_.clear();
    return;
  }
  fault_map_[fault.api()] = fault;
}

bool CorvelServiceImpl::CheckForFaultInject(FAULT_API_TYPE api, VCENTER_MGR_STATUS* status) {
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "API called -> " << api;
  for (auto& [key, fault] : fault_map_) {
    TRACE(p_logger_, TRACE_LEVEL_DEBUG) << " fault_map API : " << key << " Count : " << fault.count()
                                        << " Status : " << fault.status();
    if (key == api && fault.count() > 0) {
      fault.set_count(fault.count() - 1);
      if (status != nullptr) *status = fault.status();
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Notifications of the vCenter manager

CorvelInventory* CorvelServiceImpl::RouteNotification(const std::string& vcenter_url,
                                                      const std::string& dc_uuid) {
  for (CorvelInventory* inv : vcenter_map_) {
    TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "Retrieved IP : " << inv->vCenter_url_;
    if (inv->vCenter_url_ == vcenter_url && inv->datacenter_uuid_ == dc_uuid) return inv;
  }
  TRACE(p_logger_, TRACE_LEVEL_DEBUG) << "vCenter : " << vcenter_url << " Datacenter : " << dc_uuid
                                      << "  Not found";
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Served methods whose handlers come with their own areas: each completes its call at once.

namespace {
void Complete(google::protobuf::Closure* done) {
  if (done != nullptr) done->Run();
}
}  // namespace

void CorvelServiceImpl::VIGlobalVMNotification(google::protobuf::RpcController*,
                                               const VIGlobalVMNotif* request, VoidResponse*,
                                               google::protobuf::Closure* done) {
  if (CorvelInventory* inv = RouteNotification(request->vcenter_url(), request->dc_uuid())) {
    inv->VIVMNotification(request);
  }
  Complete(done);
}
void CorvelServiceImpl::VIGlobalResourceNotification(google::protobuf::RpcController*,
                                                     const VIGlobalResourceNotif* request,
                                                     VoidResponse*,
                                                     google::protobuf::Closure* done) {
  if (CorvelInventory* inv = RouteNotification(request->vcenter_url(), request->dc_uuid())) {
    inv->VIResourceNotification(request);
  }
  Complete(done);
}
void CorvelServiceImpl::VIVcenterConnectStatus(google::protobuf::RpcController*,
                                               const VIVcenterStatus* request, VoidResponse*,
                                               google::protobuf::Closure* done) {
  if (CorvelInventory* inv = RouteNotification(request->vcenter_url(), request->dc_uuid())) {
    inv->VIVcenterConnectStatus(request);
  }
  Complete(done);
}
void CorvelServiceImpl::VIValidateVcenter(google::protobuf::RpcController*,
                                          const VIValidateVcenterReq*, VIValidateVcenterRsp*,
                                          google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIConfigureAPICMode(google::protobuf::RpcController*, const APICMode*,
                                            VoidResponse*, google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIRediscoverVcenter(google::protobuf::RpcController*,
                                            const VIVcenterRediscoverReq*, VoidResponse*,
                                            google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIAddInterestedVMs(google::protobuf::RpcController*,
                                           const VIInterestedVMs*, VoidResponse*,
                                           google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIDelInterestedVMs(google::protobuf::RpcController*,
                                           const VIInterestedVMs*, VoidResponse*,
                                           google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIQueryVcenterInventoryProgress(google::protobuf::RpcController*,
                                                        const VIVcenterInventoryProgressReq*,
                                                        VIVcenterInventoryProgressRsp*,
                                                        google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VICreateSE(google::protobuf::RpcController*, const VICreateSEReq*,
                                   VICreateSERsp*, google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIDeleteSE(google::protobuf::RpcController*, const VIDeleteSEReq*,
                                   VIDeleteSERsp*, google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VISetMgmtIpSE(google::protobuf::RpcController*, const VISetMgmtIpSEReq*,
                                      VISetMgmtIpSERsp*, google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIModifyMgmtIpSE(google::protobuf::RpcController*,
                                         const VISetMgmtIpSEReq*, VISetMgmtIpSERsp*,
                                         google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VISetvNicNw(google::protobuf::RpcController*, const VISetvNicNwReq*,
                                    VISetvNicNwRsp*, google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIQueryHostsCapability(google::protobuf::RpcController*,
                                               const QueryHostsCapabilityReq*,
                                               QueryHostsCapabilityRsp*,
                                               google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIGenEvent(google::protobuf::RpcController*, const VITestEventGen* request,
                                   VoidResponse*, google::protobuf::Closure* done) {
  CorvelVIGenEvent(*request);
  Complete(done);
}
void CorvelServiceImpl::VIVmPowerStateChange(google::protobuf::RpcController*,
                                             const VIVMPowerStateChangeReq*,
                                             VIVMPowerStateChangeRsp*,
                                             google::protobuf::Closure* done) {
  Complete(done);
}
void CorvelServiceImpl::VIModifyNetworkTenant(google::protobuf::RpcController*,
                                              const VITenantNetworkMap*, VoidResponse*,
                                              google::protobuf::Closure* done) {
  Complete(done);
}
