// The simulated vCenter manager: every method of vCenterMgrService.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>

#include "proto/vcenter_mgr.pb.h"
#include "tools/vcmgr_sim/fault_table.h"
#include "tools/vcmgr_sim/inventory.h"
#include "tools/vcmgr_sim/monitor_feed.h"
#include "tools/vcmgr_sim/sevm_actions.h"

namespace vcmgr_sim {

// Answers the connector from the inventory and changes it for SE VM requests, reporting each
// change through the monitor feed. Requests naming a vCenter are checked against the
// inventory's account: a wrong address answers CORVEL_CONN_FAILURE, a wrong user name or
// password CORVEL_BAD_CREDENTIALS (AUTHENTICATION_FAILURE for SE VM requests); requests naming
// another datacenter answer CORVEL_DC_REQUIRED. The diagnostic queries that carry fixed
// credentials (interested VMs and hosts, counters, SE VM creation progress) are not checked.
// Faults armed through InjectFault change the answers as tools/vcmgr_sim/README.md describes.
// Every call is completed before the method returns. Holds references to the inventory,
// fault table and feed, which must outlive it. Single-threaded.
class SimService : public vCenterMgrService {
 public:
  SimService(Inventory& inv, FaultTable& faults, MonitorFeed& feed)
      : inv_(inv), faults_(faults), feed_(feed) {}

  // Performance monitoring the connector asked for, per cloud.
  struct PerfMonitor {
    bool started = false;
    std::map<std::string, std::string> vms;  // VM MOR -> uuid as sent
    std::set<std::string> hosts;             // host MORs
  };
  const std::map<std::string, PerfMonitor>& perf_monitors() const { return perf_; }
  const VIControllerIps& controller_ips() const { return controller_ips_; }
  int restart_requests() const { return restarts_; }

  using RpcController = google::protobuf::RpcController;
  using Closure = google::protobuf::Closure;

  void GetDCDetails(RpcController*, const VIGetDCDetailsReq*, VIGetDCDetailsRsp*, Closure*) override;
  void GetHosts(RpcController*, const VIGetHostReq*, VIGetHostRsp*, Closure*) override;
  void GetClusters(RpcController*, const VIGetClusterReq*, VIGetClusterRsp*, Closure*) override;
  void GetVMs(RpcController*, const VIGetVMReq*, VIGetVMRsp*, Closure*) override;
  void GetDCNetworks(RpcController*, const VIGetPGReq*, VIGetPGRsp*, Closure*) override;
  void GetPortGroups(RpcController*, const VIGetPGReq*, VIGetPGRsp*, Closure*) override;
  void CreateSeOva(RpcController*, const VIGetDCDetailsReq*, VIGetDCDetailsRsp*, Closure*) override;
  void GetSubfolders(RpcController*, const RetrieveVcenterSubfoldersReq*, RetrieveVcenterSubfoldersRsp*,
                     Closure*) override;
  void GetDatastores(RpcController*, const RetrieveVcenterDatastoreReq*, RetrieveVcenterDatastoreRsp*,
                     Closure*) override;
  void CheckHostReachability(RpcController*, const HostReachabilityReq*, HostReachabilityRsp*, Closure*) override;
  void StartGlobalVMNotif(RpcController*, const VIVcenterMonitorReq*, VoidResponse*, Closure*) override;
  void StopGlobalVMNotif(RpcController*, const VIVcenterMonitorReq*, VoidResponse*, Closure*) override;
  void StartGlobalResourceNotif(RpcController*, const VIVcenterMonitorReq*, VoidResponse*, Closure*) override;
  void StopGlobalResourceNotif(RpcController*, const VIVcenterMonitorReq*, VoidResponse*, Closure*) override;
  void ValidateVcenter(RpcController*, const VIValidateVcenterReq*, VIValidateVcenterRsp*, Closure*) override;
  void VerifyLogin(RpcController*, const VcenterLogin*, VcenterLoginRsp*, Closure*) override;
  void CreateSEVM(RpcController*, const VICreateSEVMReq*, VICreateSEVMRsp*, Closure*) override;
  void DeleteSEVM(RpcController*, const VIDeleteSEVMReq*, VIDeleteSEVMRsp*, Closure*) override;
  void SetMgmtIpSEVM(RpcController*, const VISetMgmtIpSEVMReq*, VISetMgmtIpSEVMRsp*, Closure*) override;
  void ModifyMgmtIpSEVM(RpcController*, const VISetMgmtIpSEVMReq*, VISetMgmtIpSEVMRsp*, Closure*) override;
  void SetvNicNw(RpcController*, const VISetvNicNwReq*, VISetvNicNwRsp*, Closure*) override;
  void StartPerfMonitor(RpcController*, const VIPerformanceMonitorInfo*, VoidResponse*, Closure*) override;
  void StopPerfMonitor(RpcController*, const VIPerformanceMonitorInfo*, VoidResponse*, Closure*) override;
  void AddPerfMonitorVMs(RpcController*, const VIPerformanceMonitorVM*, VoidResponse*, Closure*) override;
  void RemovePerfMonitorVMs(RpcController*, const VIPerformanceMonitorVM*, VoidResponse*, Closure*) override;
  void ChangeVMPowerState(RpcController*, const VIVMPowerChangeReq*, VIVMPowerChangeRsp*, Closure*) override;
  void RestartManager(RpcController*, const NullObj*, VoidResponse*, Closure*) override;
  void SetControllerIps(RpcController*, const VIControllerIps*, VoidResponse*, Closure*) override;
  void GetInterestedVMs(RpcController*, const VIAdminCredentials*, InterestedVMs*, Closure*) override;
  void GetInterestedHosts(RpcController*, const VIAdminCredentials*, InterestedHosts*, Closure*) override;
  void GetSupportedCounters(RpcController*, const VIAdminCredentials*, VcenterSupportedCounters*, Closure*) override;
  void GetEntityCounters(RpcController*, const VIRetrieveEntityCounterReq*, EntityCounters*, Closure*) override;
  void GetSEVMCreateProgress(RpcController*, const VIAdminCredentials*, SEVMCreateProgress*, Closure*) override;
  void QueryHostsCapability(RpcController*, const QueryHostsCapabilityReq*, VcenterHostsCapabilityRsp*,
                            Closure*) override;
  void InjectFault(RpcController*, const VIFaultInjection*, VoidResponse*, Closure*) override;
  void DeleteNetwork(RpcController*, const VIDeleteNetworkFilter*, VoidResponse*, Closure*) override;

 private:
  // Checks an account against the inventory's; CORVEL_SUCCESS or the failure with `*text`.
  CORVEL_STATUS CheckAccount(const std::string& url, const std::string& user, const std::string& password,
                             std::string* text) const;
  // CheckAccount of `admin`, then the datacenter a request names (empty, its name, its MOR or
  // a uuid built from its MOR).
  CORVEL_STATUS Admit(const VIAdminCredentials& admin, const std::string& datacenter, std::string* text) const;
  // Admit, for requests whose answers carry uuids: the request must name its cloud.
  CORVEL_STATUS AdmitCloud(const VIAdminCredentials& admin, const std::string& datacenter,
                           const std::string& cloud_uuid, std::string* text) const;
  // AdmitCloud of a discovery listing request; sets the answer's status and text. True when
  // the objects are to be listed.
  template <typename Req, typename Rsp>
  bool AdmitListing(const Req& req, Rsp* rsp);
  // The login checks shared by validation and login: INVALID_LOGIN, the account, then
  // VERSION_NULL_ERR.
  CORVEL_STATUS CheckLogin(const std::string& url, const std::string& user, const std::string& password,
                           std::string* text);
  // The status to report for a fired fault: its own, or `fallback` when it reads as success.
  static VCENTER_MGR_STATUS FaultStatus(VCENTER_MGR_STATUS status, VCENTER_MGR_STATUS fallback);
  // An SE VM change guarded like every such request: the account (and datacenter) first, then
  // the armed fault `api` (reported as `failure` with `fault_text`), then `action`. A change
  // that succeeds is reported as a modified VM.
  template <typename Action>
  ActionResult GuardedVmChange(const VIAdminCredentials& admin, const std::string& datacenter,
                               FAULT_API_TYPE api, VCENTER_MGR_STATUS failure,
                               const std::string& fault_text, Action action);
  void RecordProgress(const std::string& name, const std::string& cloud, const std::string& host, bool ok,
                      const std::string& text);
  // Port groups as discovery sees them, with the DISC_PGNAME_ERR clash when armed.
  void ListPortGroups(const std::string& cloud, google::protobuf::RepeatedPtrField<CorvelNWRuntime>* out);

  Inventory& inv_;
  FaultTable& faults_;
  MonitorFeed& feed_;
  std::map<std::string, PerfMonitor> perf_;
  VIControllerIps controller_ips_;
  std::deque<SEVMCreateProgressInfo> progress_;
  int restarts_ = 0;
};

}  // namespace vcmgr_sim
