#include "tools/vcmgr_sim/sim_service.h"

#include <glog/logging.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "tools/vcmgr_sim/cloud_view.h"
#include "tools/vcmgr_sim/sevm_actions.h"

namespace vcmgr_sim {

namespace {

const char kBadLogin[] = "Cannot complete login due to an incorrect user name or password.";
const char kSuccess[] = "SUCCESS";
// Disk an SE VM takes on a datastore, for the capacity answer.
constexpr int64_t kSeDiskBytes = 20LL << 30;
constexpr int kMaxSeDisk = 64;
// SE VM creations remembered for GetSEVMCreateProgress.
constexpr size_t kProgressEntries = 64;
// Rounds of SIM_VM_BULK_NOTIF one injection may ask for.
constexpr int kMaxBulkRounds = 100;

// Runs a call's completion closure when the handler leaves, whatever the path.
class Completion {
 public:
  explicit Completion(google::protobuf::Closure* done) : done_(done) {}
  ~Completion() {
    if (done_) done_->Run();
  }
  Completion(const Completion&) = delete;
  Completion& operator=(const Completion&) = delete;

 private:
  google::protobuf::Closure* done_;
};

std::string NormalizeUrl(std::string url) {
  std::transform(url.begin(), url.end(), url.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* scheme : {"https://", "http://"}) {
    const std::string s = scheme;
    if (url.compare(0, s.size(), s) == 0) url.erase(0, s.size());
  }
  const std::string sdk = "/sdk";
  if (url.size() >= sdk.size() && url.compare(url.size() - sdk.size(), sdk.size(), sdk) == 0) {
    url.erase(url.size() - sdk.size());
  }
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

template <typename Rsp>
void SetStatus(Rsp* rsp, CORVEL_STATUS status, const std::string& text) {
  rsp->set_status(status);
  rsp->set_status_string(text);
}

// A stable hash, so that counter values do not change between runs.
uint64_t Fnv(const std::string& s) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ULL;
  return h;
}

struct CounterDef {
  int id;
  const char* group;
  const char* name;
  const char* unit;
  int64_t range;  // values are drawn below this
  bool for_vm;
  bool for_host;
};

const CounterDef kCounters[] = {
    {2, "cpu", "usage", "percent", 10000, true, true},
    {6, "cpu", "usagemhz", "megaHertz", 50000, false, true},
    {24, "mem", "usage", "percent", 10000, true, true},
    {98, "mem", "consumed", "kiloBytes", 16 << 20, true, false},
    {125, "disk", "usage", "kiloBytesPerSecond", 200000, true, true},
    {143, "net", "usage", "kiloBytesPerSecond", 100000, false, true},
    {146, "net", "received", "kiloBytesPerSecond", 100000, true, false},
    {147, "net", "transmitted", "kiloBytesPerSecond", 100000, true, false},
};

}  // namespace

CORVEL_STATUS SimService::CheckAccount(const std::string& url, const std::string& user,
                                       const std::string& password, std::string* text) const {
  const SimVcenter& vc = inv_.vcenter();
  if (!vc.url().empty() && NormalizeUrl(url) != NormalizeUrl(vc.url())) {
    *text = "Cannot connect to vCenter '" + url + "'";
    return CORVEL_CONN_FAILURE;
  }
  if (user != vc.username() || password != vc.password()) {
    *text = kBadLogin;
    return CORVEL_BAD_CREDENTIALS;
  }
  *text = kSuccess;
  return CORVEL_SUCCESS;
}

CORVEL_STATUS SimService::Admit(const VIAdminCredentials& admin, const std::string& datacenter,
                                std::string* text) const {
  const CORVEL_STATUS status = CheckAccount(admin.vcenter_url(), admin.name(), admin.password(), text);
  if (status != CORVEL_SUCCESS) return status;
  const VIDCInfo& dc = inv_.datacenter();
  if (!datacenter.empty() && datacenter != dc.name() && MorOf(datacenter) != dc.managed_object_id()) {
    *text = "Datacenter '" + datacenter + "' not found";
    return CORVEL_DC_REQUIRED;
  }
  return CORVEL_SUCCESS;
}

CORVEL_STATUS SimService::AdmitCloud(const VIAdminCredentials& admin, const std::string& datacenter,
                                     const std::string& cloud_uuid, std::string* text) const {
  if (cloud_uuid.empty()) {
    *text = "cloud_uuid is required";
    return CORVEL_FAILURE;
  }
  return Admit(admin, datacenter, text);
}

CORVEL_STATUS SimService::CheckLogin(const std::string& url, const std::string& user,
                                     const std::string& password, std::string* text) {
  if (faults_.Fire(INVALID_LOGIN)) {
    *text = std::string(kBadLogin) + " (injected fault)";
    return CORVEL_BAD_CREDENTIALS;
  }
  const CORVEL_STATUS status = CheckAccount(url, user, password, text);
  if (status != CORVEL_SUCCESS) return status;
  if (faults_.Fire(VERSION_NULL_ERR)) {
    *text = "vCenter reported no API version (injected fault)";
    return CORVEL_VCENTER_VERSION;
  }
  return CORVEL_SUCCESS;
}

VCENTER_MGR_STATUS SimService::FaultStatus(VCENTER_MGR_STATUS status, VCENTER_MGR_STATUS fallback) {
  return status == SEVM_SUCCESS ? fallback : status;
}

// --- Discovery --------------------------------------------------------------------------------

void SimService::GetDCDetails(RpcController*, const VIGetDCDetailsReq* req, VIGetDCDetailsRsp* rsp,
                              Closure* done) {
  Completion completion(done);
  std::string text;
  CORVEL_STATUS status = AdmitCloud(req->admin(), req->datacenter(), req->cloud_uuid(), &text);
  if (status == CORVEL_SUCCESS && faults_.Fire(DISC_DC_ERR)) {
    status = CORVEL_FAILURE;
    text = "Datacenter '" + req->datacenter() + "' could not be read (injected fault)";
  }
  SetStatus(rsp, status, text);
  if (req->has_se_version()) rsp->set_se_version(req->se_version());
  if (status == CORVEL_SUCCESS) CloudView(inv_, req->cloud_uuid()).Datacenter(rsp->mutable_dc_info());
}

template <typename Req, typename Rsp>
bool SimService::AdmitListing(const Req& req, Rsp* rsp) {
  std::string text;
  const CORVEL_STATUS status = AdmitCloud(req.admin(), req.datacenter(), req.cloud_uuid(), &text);
  SetStatus(rsp, status, text);
  return status == CORVEL_SUCCESS;
}

void SimService::GetHosts(RpcController*, const VIGetHostReq* req, VIGetHostRsp* rsp, Closure* done) {
  Completion completion(done);
  if (!AdmitListing(*req, rsp) || faults_.Fire(VCENTER_NO_OBJECTS)) return;
  CloudView view(inv_, req->cloud_uuid());
  for (const auto& h : inv_.data().hosts()) view.Host(h, rsp->add_host_list());
}

void SimService::GetClusters(RpcController*, const VIGetClusterReq* req, VIGetClusterRsp* rsp, Closure* done) {
  Completion completion(done);
  if (!AdmitListing(*req, rsp) || faults_.Fire(VCENTER_NO_OBJECTS)) return;
  CloudView view(inv_, req->cloud_uuid());
  for (const auto& c : inv_.data().clusters()) view.Cluster(c, rsp->add_cluster_list());
}

void SimService::GetVMs(RpcController*, const VIGetVMReq* req, VIGetVMRsp* rsp, Closure* done) {
  Completion completion(done);
  rsp->set_datacenter(req->datacenter());
  if (!AdmitListing(*req, rsp) || faults_.Fire(VCENTER_NO_OBJECTS)) return;
  CloudView view(inv_, req->cloud_uuid());
  for (const auto& vm : inv_.data().vms()) view.Vm(vm, rsp->add_vm_list());
}

void SimService::ListPortGroups(const std::string& cloud,
                                google::protobuf::RepeatedPtrField<CorvelNWRuntime>* out) {
  if (faults_.Fire(VCENTER_NO_OBJECTS)) return;
  CloudView view(inv_, cloud);
  for (const auto& pg : inv_.data().port_groups()) view.PortGroup(pg, out->Add());
  if (!faults_.Fire(DISC_PGNAME_ERR)) return;
  // A standard port group that takes the name of the first distributed one.
  for (const auto& pg : inv_.data().port_groups()) {
    if (!pg.dvs()) continue;
    CorvelNWRuntime clash;
    clash.set_managed_object_id(inv_.FindPortGroup("network-999999") ? "network-999998" : "network-999999");
    clash.set_name(pg.name());
    clash.set_dvs(false);
    view.PortGroup(clash, out->Add());
    LOG(INFO) << "port group name clash reported on '" << pg.name() << "'";
    return;
  }
}

void SimService::GetDCNetworks(RpcController*, const VIGetPGReq* req, VIGetPGRsp* rsp, Closure* done) {
  Completion completion(done);
  if (AdmitListing(*req, rsp)) ListPortGroups(req->cloud_uuid(), rsp->mutable_pg_list());
}

void SimService::GetPortGroups(RpcController*, const VIGetPGReq* req, VIGetPGRsp* rsp, Closure* done) {
  Completion completion(done);
  if (AdmitListing(*req, rsp)) ListPortGroups(req->cloud_uuid(), rsp->mutable_pg_list());
}

void SimService::CreateSeOva(RpcController*, const VIGetDCDetailsReq* req, VIGetDCDetailsRsp* rsp,
                             Closure* done) {
  Completion completion(done);
  std::string text;
  CORVEL_STATUS status = AdmitCloud(req->admin(), req->datacenter(), req->cloud_uuid(), &text);
  if (status == CORVEL_SUCCESS && req->se_image_path().empty()) {
    status = CORVEL_FAILURE;
    text = "No SE image path given";
  } else if (status == CORVEL_SUCCESS && faults_.Fire(SIMULATE_OVA_ERR)) {
    status = CORVEL_FAILURE;
    text = "SE OVA import of " + req->se_image_path() + " failed (injected fault)";
  }
  SetStatus(rsp, status, text);
  rsp->set_se_version(req->se_version());
  if (status != CORVEL_SUCCESS) return;
  LOG(INFO) << "SE OVA for version " << req->se_version() << " made from " << req->se_image_path();
  CloudView(inv_, req->cloud_uuid()).Datacenter(rsp->mutable_dc_info());
}

void SimService::GetSubfolders(RpcController*, const RetrieveVcenterSubfoldersReq* req,
                               RetrieveVcenterSubfoldersRsp* rsp, Closure* done) {
  Completion completion(done);
  std::string text;
  const CORVEL_STATUS status = Admit(req->admin(), req->datacenter(), &text);
  SetStatus(rsp, status, text);
  if (status != CORVEL_SUCCESS) return;
  // The folder is named by path or by name; an empty one is the datacenter's VM root.
  std::string parent = req->folder();
  for (const auto& f : inv_.data().folders()) {
    if (!parent.empty() && f.path() != parent && f.name() == parent) {
      parent = f.path();
      break;
    }
  }
  VISubfolders* info = rsp->mutable_folder_info();
  info->set_folder(req->folder());
  for (const auto& f : inv_.data().folders()) {
    const size_t slash = f.path().rfind('/');
    const std::string up = slash == std::string::npos ? "" : f.path().substr(0, slash);
    if (up == parent) *info->add_subfolders() = f;
  }
}

void SimService::GetDatastores(RpcController*, const RetrieveVcenterDatastoreReq* req,
                               RetrieveVcenterDatastoreRsp* rsp, Closure* done) {
  Completion completion(done);
  std::string text;
  const CORVEL_STATUS status = Admit(req->admin(), req->datacenter(), &text);
  SetStatus(rsp, status, text);
  if (status != CORVEL_SUCCESS) return;
  for (const auto& ds : inv_.data().datastores()) *rsp->mutable_ds_info()->add_datastores() = ds;
}

void SimService::CheckHostReachability(RpcController*, const HostReachabilityReq* req, HostReachabilityRsp* rsp,
                                       Closure* done) {
  Completion completion(done);
  std::string text;
  const CORVEL_STATUS status = Admit(req->admin(), "", &text);
  SetStatus(rsp, status, text);
  rsp->set_vcenter_access_ok(status == CORVEL_SUCCESS);
  if (status != CORVEL_SUCCESS) return;
  for (const HostAccess& in : req->hosts()) {
    HostAccess* out = rsp->add_hosts();
    *out = in;
    const CorvelHostRuntime* host = inv_.FindHost(in.host_uuid());
    for (int i = 0; !host && !in.hostname().empty() && i < inv_.data().hosts_size(); ++i) {
      if (inv_.data().hosts(i).name() == in.hostname()) host = &inv_.data().hosts(i);
    }
    if (host && out->hostname().empty()) out->set_hostname(host->name());
    out->set_reachable(host && host->connection_state() == "connected" && host->powerstate() == "poweredOn");
  }
}

// --- Monitors ---------------------------------------------------------------------------------

void SimService::StartGlobalVMNotif(RpcController*, const VIVcenterMonitorReq* req, VoidResponse*, Closure* done) {
  Completion completion(done);
  std::string text;
  const CORVEL_STATUS status = AdmitCloud(req->admin(), "", req->cloud_uuid(), &text);
  if (status != CORVEL_SUCCESS) {
    LOG(WARNING) << "VM monitor of cloud " << req->cloud_uuid() << " refused: " << text;
    feed_.ReportStatus(*req, false, status, text);
    return;
  }
  if (faults_.Fire(VM_MONITOR)) {
    LOG(WARNING) << "VM monitor of cloud " << req->cloud_uuid() << " not started (injected fault)";
    return;
  }
  MonitorFeed::ResyncOptions options;
  options.empty = faults_.Fire(VCENTER_NO_OBJECTS);
  options.error_entry = faults_.Fire(RESYNC_ERROR);
  feed_.StartVm(*req, options);
}

void SimService::StopGlobalVMNotif(RpcController*, const VIVcenterMonitorReq* req, VoidResponse*, Closure* done) {
  Completion completion(done);
  if (!feed_.StopVm(req->cloud_uuid())) LOG(INFO) << "no VM monitor to stop for cloud " << req->cloud_uuid();
}

void SimService::StartGlobalResourceNotif(RpcController*, const VIVcenterMonitorReq* req, VoidResponse*,
                                          Closure* done) {
  Completion completion(done);
  std::string text;
  const CORVEL_STATUS status = AdmitCloud(req->admin(), "", req->cloud_uuid(), &text);
  if (status != CORVEL_SUCCESS) {
    LOG(WARNING) << "resource monitor of cloud " << req->cloud_uuid() << " refused: " << text;
    return;
  }
  if (faults_.Fire(RESOURCE_MONITOR)) {
    LOG(WARNING) << "resource monitor of cloud " << req->cloud_uuid() << " not started (injected fault)";
    return;
  }
  MonitorFeed::ResyncOptions options;
  options.empty = faults_.Fire(VCENTER_NO_OBJECTS);
  feed_.StartResource(*req, options);
}

void SimService::StopGlobalResourceNotif(RpcController*, const VIVcenterMonitorReq* req, VoidResponse*,
                                         Closure* done) {
  Completion completion(done);
  if (!feed_.StopResource(req->cloud_uuid())) {
    LOG(INFO) << "no resource monitor to stop for cloud " << req->cloud_uuid();
  }
}

void SimService::StartPerfMonitor(RpcController*, const VIPerformanceMonitorInfo* req, VoidResponse*,
                                  Closure* done) {
  Completion completion(done);
  if (faults_.Fire(PERF_MONITOR)) {
    LOG(WARNING) << "performance monitor of cloud " << req->cloud_uuid() << " not started (injected fault)";
    return;
  }
  perf_[req->cloud_uuid()].started = true;
  LOG(INFO) << "performance monitor started for cloud " << req->cloud_uuid();
}

void SimService::StopPerfMonitor(RpcController*, const VIPerformanceMonitorInfo* req, VoidResponse*,
                                 Closure* done) {
  Completion completion(done);
  perf_[req->cloud_uuid()].started = false;
  LOG(INFO) << "performance monitor stopped for cloud " << req->cloud_uuid();
}

void SimService::AddPerfMonitorVMs(RpcController*, const VIPerformanceMonitorVM* req, VoidResponse*,
                                   Closure* done) {
  Completion completion(done);
  PerfMonitor& perf = perf_[req->cloud_uuid()];
  for (const auto& vm : req->interested_vms()) perf.vms[vm.vm_mor()] = vm.vm_uuid();
  for (const auto& host : req->interested_hosts()) perf.hosts.insert(MorOf(host).empty() ? host : MorOf(host));
  VLOG(1) << "performance monitor of cloud " << req->cloud_uuid() << ": " << perf.vms.size() << " VMs, "
          << perf.hosts.size() << " hosts";
}

void SimService::RemovePerfMonitorVMs(RpcController*, const VIPerformanceMonitorVM* req, VoidResponse*,
                                      Closure* done) {
  Completion completion(done);
  PerfMonitor& perf = perf_[req->cloud_uuid()];
  for (const auto& vm : req->interested_vms()) perf.vms.erase(vm.vm_mor());
  // Hosts arrive as MORs or as uuids.
  for (const auto& host : req->interested_hosts()) perf.hosts.erase(MorOf(host).empty() ? host : MorOf(host));
}

// --- Login ------------------------------------------------------------------------------------

void SimService::ValidateVcenter(RpcController*, const VIValidateVcenterReq* req, VIValidateVcenterRsp* rsp,
                                 Closure* done) {
  Completion completion(done);
  const VIAdminCredentials& admin = req->admin();
  std::string text;
  CORVEL_STATUS status = CheckLogin(admin.vcenter_url(), admin.name(), admin.password(), &text);
  if (status == CORVEL_SUCCESS && req->cloud_uuid().empty()) {
    status = CORVEL_FAILURE;
    text = "cloud_uuid is required";
  } else if (status == CORVEL_SUCCESS && req->datacenter() != inv_.datacenter().name()) {
    status = CORVEL_DC_REQUIRED;
    text = "Datacenter '" + req->datacenter() + "' not found";
  }
  rsp->set_status(status);
  rsp->set_response_string(text);
  if (status != CORVEL_SUCCESS) {
    LOG(INFO) << "validation of cloud " << req->cloud_uuid() << " refused: " << text;
    return;
  }
  const SimVcenter& vc = inv_.vcenter();
  rsp->set_vcenter_name(vc.name());
  rsp->set_api_version(vc.api_version());
  rsp->set_discovery_dc_uuid(CloudView(inv_, req->cloud_uuid()).DatacenterUuid());
  if (!req->controller_cluster_uuid().empty() || req->controller_ips_size() > 0) {
    controller_ips_.set_controller_cluster_uuid(req->controller_cluster_uuid());
    *controller_ips_.mutable_controller_ips() = req->controller_ips();
  }
  const CorvelVMRuntime* ctrl = req->controller_vm_mor().empty() ? nullptr : inv_.FindVm(req->controller_vm_mor());
  if (ctrl) {
    rsp->set_ctrl_name(ctrl->name());
    for (const auto& nic : ctrl->guest_nic()) {
      VIControllerVnicInfo* vnic = rsp->add_ctrl_vnics();
      vnic->set_portgroup(nic.network_name());
      for (const auto& ip : nic.guest_ip()) {
        VIGuestvNicIPAddr* addr = vnic->add_vnic_ip();
        addr->set_ip_addr(ip.prefix().ip_addr().addr());
        addr->set_mask(ip.prefix().mask());
      }
    }
  }
  LOG(INFO) << "cloud " << req->cloud_uuid() << " validated for datacenter " << req->datacenter();
}

void SimService::VerifyLogin(RpcController*, const VcenterLogin* req, VcenterLoginRsp* rsp, Closure* done) {
  Completion completion(done);
  std::string text;
  const CORVEL_STATUS status = CheckLogin(req->vcenter_url(), req->username(), req->password(), &text);
  SetStatus(rsp, status, text);
  *rsp->mutable_login() = *req;
  rsp->set_start_ts(req->start_ts());
  if (status != CORVEL_SUCCESS) return;
  rsp->set_vcenter_name(inv_.vcenter().name());
  VIDCInfo* dc = rsp->add_datacenters();
  *dc = inv_.datacenter();
  if (!req->cloud_uuid().empty()) dc->set_uuid(CloudView(inv_, req->cloud_uuid()).DatacenterUuid());
}

// --- SE VMs -----------------------------------------------------------------------------------

void SimService::RecordProgress(const std::string& name, const std::string& cloud, const std::string& host,
                                bool ok, const std::string& text) {
  SEVMCreateProgressInfo info;
  info.set_sevm_name(name);
  info.set_cloud_uuid(cloud);
  info.set_host(host);
  info.set_progress(ok ? 100 : 0);
  info.set_state(ok ? "completed" : "failed: " + text);
  progress_.push_back(std::move(info));
  if (progress_.size() > kProgressEntries) progress_.pop_front();
}

void SimService::CreateSEVM(RpcController*, const VICreateSEVMReq* req, VICreateSEVMRsp* rsp, Closure* done) {
  Completion completion(done);
  const std::string& name = req->sevm_params().sevm_name();
  rsp->set_sevm_name(name);
  rsp->set_cloud_uuid(req->cloud_uuid());
  rsp->set_vcenter_url(req->admin().vcenter_url());
  ActionResult result;
  std::string text;
  VCENTER_MGR_STATUS fault = SEVM_CREATE_FAILURE;
  CorvelVMRuntime vm;
  if (req->cloud_uuid().empty()) {
    result.status = SEVM_INVALID_DATA;
    result.text = "cloud_uuid is required";
  } else if (Admit(req->admin(), req->datacenter(), &text) != CORVEL_SUCCESS) {
    result.status = AUTHENTICATION_FAILURE;
    result.text = text;
  } else if (faults_.Fire(CREATE_SE, &fault)) {
    result.status = FaultStatus(fault, SEVM_CREATE_FAILURE);
    result.text = "SE VM " + name + " creation failed (injected fault " + VCENTER_MGR_STATUS_Name(result.status) + ")";
  } else {
    result = CreateSeVm(inv_, *req, &vm);
  }
  rsp->set_status(result.ok() ? CORVEL_SUCCESS : CORVEL_SE_CREATE_FAILURE);
  rsp->set_details(result.status);
  rsp->set_status_string(result.text);
  RecordProgress(name, req->cloud_uuid(), req->sevm_params().vcenter_host(), result.ok(), result.text);
  if (!result.ok()) {
    LOG(INFO) << "SE VM " << name << " not created: " << result.text;
    return;
  }
  // The SE identifies itself by the MAC address of its first vNIC.
  rsp->set_sevm_uuid(vm.guest_nic(0).mac_addr());
  LOG(INFO) << "SE VM " << name << " created as " << vm.managed_object_id() << " on " << vm.host();
  const bool blank = faults_.Fire(CREATE_VM_RUNTIME_ERR);
  if (blank) LOG(INFO) << "SE VM " << name << " reported without identity (injected fault)";
  feed_.VmChanged(Change::kEnter, vm, blank);
}

void SimService::DeleteSEVM(RpcController*, const VIDeleteSEVMReq* req, VIDeleteSEVMRsp* rsp, Closure* done) {
  Completion completion(done);
  rsp->set_sevm_name(req->sevm_name());
  std::string text;
  CorvelVMRuntime removed;
  ActionResult result;
  if (Admit(req->admin(), req->datacenter(), &text) != CORVEL_SUCCESS) {
    result.status = AUTHENTICATION_FAILURE;
    result.text = text;
  } else {
    result = DeleteSeVm(inv_, *req, &removed);
  }
  rsp->set_status(result.status);
  rsp->set_status_string(result.text);
  if (!result.ok()) {
    LOG(INFO) << "SE VM " << req->sevm_name() << " not deleted: " << result.text;
    return;
  }
  rsp->set_sevm_name(removed.name());
  LOG(INFO) << "SE VM " << removed.name() << " (" << removed.managed_object_id() << ") deleted";
  feed_.VmChanged(Change::kLeave, removed);
}

template <typename Action>
ActionResult SimService::GuardedVmChange(const VIAdminCredentials& admin, const std::string& datacenter,
                                         FAULT_API_TYPE api, VCENTER_MGR_STATUS failure,
                                         const std::string& fault_text, Action action) {
  std::string text;
  VCENTER_MGR_STATUS fault = failure;
  CorvelVMRuntime vm;
  ActionResult result;
  if (Admit(admin, datacenter, &text) != CORVEL_SUCCESS) {
    result.status = AUTHENTICATION_FAILURE;
    result.text = text;
  } else if (faults_.Fire(api, &fault)) {
    result.status = FaultStatus(fault, failure);
    result.text = fault_text + " (injected fault)";
  } else {
    result = action(&vm);
  }
  if (result.ok()) feed_.VmChanged(Change::kModify, vm);
  return result;
}

void SimService::SetMgmtIpSEVM(RpcController*, const VISetMgmtIpSEVMReq* req, VISetMgmtIpSEVMRsp* rsp,
                               Closure* done) {
  Completion completion(done);
  rsp->set_sevm_uuid(req->sevm_uuid());
  rsp->set_host_uuid(req->host_uuid());
  ActionResult result = GuardedVmChange(
      req->admin(), "", SET_MGMT_IP, SEVM_SET_MGMT_IP_FAILED,
      "Management IP of " + req->sevm_mor() + " not set",
      [&](CorvelVMRuntime* vm) { return SetMgmtIp(inv_, *req, true, vm); });
  rsp->set_status(result.status);
  rsp->set_status_string(result.text);
}

void SimService::ModifyMgmtIpSEVM(RpcController*, const VISetMgmtIpSEVMReq* req, VISetMgmtIpSEVMRsp* rsp,
                                  Closure* done) {
  Completion completion(done);
  rsp->set_sevm_uuid(req->sevm_uuid());
  rsp->set_host_uuid(req->host_uuid());
  ActionResult result = GuardedVmChange(
      req->admin(), "", MODIFY_MGMT_IP, SEVM_SET_MGMT_IP_FAILED,
      "Management IP of " + req->sevm_mor() + " not changed",
      [&](CorvelVMRuntime* vm) { return SetMgmtIp(inv_, *req, false, vm); });
  rsp->set_status(result.status);
  rsp->set_status_string(result.text);
}

void SimService::SetvNicNw(RpcController*, const VISetvNicNwReq* req, VISetvNicNwRsp* rsp, Closure* done) {
  Completion completion(done);
  rsp->set_sevm_uuid(req->sevm_uuid());
  ActionResult result = GuardedVmChange(
      req->vcenter_admin(), req->dc_uuid(), MODIFY_VNIC, SEVM_VNIC_FAILURE,
      "vNICs of " + req->vcenter_sevm_mor() + " not changed",
      [&](CorvelVMRuntime* vm) { return SetVnicNetworks(inv_, *req, vm); });
  rsp->set_status(result.status);
  rsp->set_status_string(result.text);
}

void SimService::ChangeVMPowerState(RpcController*, const VIVMPowerChangeReq* req, VIVMPowerChangeRsp* rsp,
                                    Closure* done) {
  Completion completion(done);
  rsp->set_vm_mor(req->vm_mor());
  std::string text;
  CorvelVMRuntime vm;
  ActionResult result;
  if (Admit(req->admin(), "", &text) != CORVEL_SUCCESS) {
    result.status = AUTHENTICATION_FAILURE;
    result.text = text;
  } else {
    result = ChangePower(inv_, req->vm_mor(), req->power_change_action(), &vm);
  }
  rsp->set_status(result.ok() ? CORVEL_SUCCESS : CORVEL_FAILURE);
  if (!result.ok()) {
    LOG(INFO) << "power change of " << req->vm_mor() << " refused: " << result.text;
    return;
  }
  feed_.VmChanged(Change::kModify, vm);
}

// --- Capacity and diagnostics -----------------------------------------------------------------

void SimService::QueryHostsCapability(RpcController*, const QueryHostsCapabilityReq* req,
                                      VcenterHostsCapabilityRsp* rsp, Closure* done) {
  Completion completion(done);
  std::string text;
  // The connector fills the account but not always the address.
  if (req->admin().name() != inv_.vcenter().username() || req->admin().password() != inv_.vcenter().password()) {
    rsp->set_status(1);
    rsp->set_status_string(kBadLogin);
    return;
  }
  rsp->set_status(0);
  rsp->set_status_string(kSuccess);
  rsp->set_se_mgmt_nw(req->se_mgmt_nw());
  int64_t free_bytes = 0;
  for (const auto& ds : inv_.data().datastores()) free_bytes += ds.free_space();
  const int num_se_disk = inv_.data().datastores_size() == 0
                              ? 8
                              : static_cast<int>(std::min<int64_t>(kMaxSeDisk, free_bytes / kSeDiskBytes));
  const std::string mgmt_mor = MorOf(req->se_mgmt_nw());
  for (const HostInfo& want : req->host_list()) {
    const CorvelHostRuntime* host = inv_.FindHost(want.uuid());
    if (!host) continue;
    VcenterHostCapabilityInfo* info = rsp->add_host_list();
    info->set_name(host->name());
    info->set_uuid(want.uuid());
    info->set_mgmt_nw_uuid(req->se_mgmt_nw());
    info->set_cpu_used(0);
    info->set_mem_used(0);
    info->set_num_se_disk(num_se_disk);
    info->set_disk_ok(num_se_disk > 0);
    const auto& nets = host->network_uuids();
    info->set_se_mgmt_ok(!mgmt_mor.empty() && std::find(nets.begin(), nets.end(), mgmt_mor) != nets.end());
  }
}

void SimService::RestartManager(RpcController*, const NullObj*, VoidResponse*, Closure* done) {
  Completion completion(done);
  ++restarts_;
  LOG(INFO) << "restart requested (" << restarts_ << "); the simulator keeps running";
}

void SimService::SetControllerIps(RpcController*, const VIControllerIps* req, VoidResponse*, Closure* done) {
  Completion completion(done);
  controller_ips_ = *req;
  LOG(INFO) << "controller cluster " << req->controller_cluster_uuid() << " has " << req->controller_ips_size()
            << " addresses";
}

void SimService::GetInterestedVMs(RpcController*, const VIAdminCredentials*, InterestedVMs* rsp, Closure* done) {
  Completion completion(done);
  for (const auto& [cloud, perf] : perf_) {
    for (const auto& [mor, uuid] : perf.vms) {
      InterestedVM* vm = rsp->add_vms();
      vm->set_vm_mor(mor);
      vm->set_vm_uuid(uuid);
    }
  }
}

void SimService::GetInterestedHosts(RpcController*, const VIAdminCredentials*, InterestedHosts* rsp,
                                    Closure* done) {
  Completion completion(done);
  for (const auto& [cloud, perf] : perf_) {
    for (const auto& mor : perf.hosts) {
      InterestedHost* host = rsp->add_hosts();
      host->set_host_mor(mor);
      host->set_host_uuid(ObjectUuid(mor, cloud));
    }
  }
}

void SimService::GetSupportedCounters(RpcController*, const VIAdminCredentials*, VcenterSupportedCounters* rsp,
                                      Closure* done) {
  Completion completion(done);
  for (const CounterDef& def : kCounters) {
    VcenterCounter* c = rsp->add_counters();
    c->set_counter_id(def.id);
    c->set_name(def.name);
    c->set_group(def.group);
    c->set_unit(def.unit);
    c->set_rollup("average");
    c->set_level(1);
  }
}

void SimService::GetEntityCounters(RpcController*, const VIRetrieveEntityCounterReq* req, EntityCounters* rsp,
                                   Closure* done) {
  Completion completion(done);
  rsp->set_mor(req->mor());
  const bool vm = inv_.FindVm(req->mor()) != nullptr;
  const bool host = !vm && inv_.FindHost(req->mor()) != nullptr;
  if (!vm && !host) return;
  for (const CounterDef& def : kCounters) {
    if (vm ? !def.for_vm : !def.for_host) continue;
    EntityCounter* c = rsp->add_counters();
    c->set_counter_id(def.id);
    c->set_name(std::string(def.group) + "." + def.name + ".average");
    c->set_instance("");
    c->set_value(static_cast<int64_t>(Fnv(MorOf(req->mor()) + "/" + c->name()) % static_cast<uint64_t>(def.range)));
  }
}

void SimService::GetSEVMCreateProgress(RpcController*, const VIAdminCredentials*, SEVMCreateProgress* rsp,
                                       Closure* done) {
  Completion completion(done);
  for (const auto& info : progress_) *rsp->add_sevms() = info;
}

void SimService::InjectFault(RpcController*, const VIFaultInjection* req, VoidResponse*, Closure* done) {
  Completion completion(done);
  if (req->api() != SIM_VM_BULK_NOTIF) {
    faults_.Insert(*req);
    return;
  }
  // A burst of VM updates, sent at once rather than armed.
  const int rounds = std::clamp(req->count(), 0, kMaxBulkRounds);
  LOG(INFO) << "bulk VM notification: " << rounds << " rounds";
  for (int i = 0; i < rounds; ++i) feed_.BulkVmUpdate();
}

void SimService::DeleteNetwork(RpcController*, const VIDeleteNetworkFilter* req, VoidResponse*, Closure* done) {
  Completion completion(done);
  const CorvelNWRuntime* pg = inv_.FindPortGroup(req->network_uuid());
  if (!pg) {
    LOG(INFO) << "DeleteNetwork: no port group '" << req->network_uuid() << "'";
    return;
  }
  CorvelNWRuntime removed;
  if (!inv_.RemovePortGroup(pg->managed_object_id(), &removed)) {
    LOG(INFO) << "DeleteNetwork: port group " << pg->name() << " still has vNICs; not deleted";
    return;
  }
  LOG(INFO) << "port group " << removed.name() << " (" << removed.managed_object_id() << ") deleted";
  feed_.PortGroupChanged(Change::kLeave, removed);
}

}  // namespace vcmgr_sim
