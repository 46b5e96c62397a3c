// The VM and resource monitors that the connector starts, and the notifications they send.
#pragma once

#include <map>
#include <string>

#include "proto/corvel_service.pb.h"
#include "proto/vcenter_mgr.pb.h"
#include "tools/vcmgr_sim/inventory.h"
#include "tools/vcmgr_sim/notifier.h"

namespace vcmgr_sim {

// What happened to an object; sent as the operation "enter", "modify" or "leave".
enum class Change { kEnter, kModify, kLeave };

// The operation string of a change.
const char* OperationOf(Change change);

// Keeps one VM monitor and one resource monitor per cloud and turns inventory changes into
// notifications for each active monitor, rendered for that monitor's cloud. A monitor opens
// with a resynchronisation: the first batch has resync set and every batch but the last has
// more set; live changes follow. Changes to a VM or host name its datacenter by MOR, and
// removals name the datacenter "DELETE" so that the connector finds the stored record by MOR.
// The inventory and the notifier must outlive the feed. Single-threaded.
class MonitorFeed {
 public:
  MonitorFeed(const Inventory& inv, Notifier& notifier, int batch_size)
      : inv_(inv), notifier_(notifier), batch_size_(batch_size < 1 ? 1 : batch_size) {}

  // Options of a resynchronisation (test faults).
  struct ResyncOptions {
    bool empty = false;        // report no objects at all
    bool error_entry = false;  // open the VM resync with an "error" entry
  };

  // Starts, or restarts, the VM monitor of the request's cloud and queues a resynchronisation
  // of every VM; what the previous monitor of that cloud had queued is dropped.
  void StartVm(const VIVcenterMonitorReq& req, const ResyncOptions& options);
  // Stops the VM monitor of `cloud_uuid` and drops what it had queued. False when none ran.
  bool StopVm(const std::string& cloud_uuid);
  // The same for resource monitors: hosts, clusters, port groups and the datacenter.
  void StartResource(const VIVcenterMonitorReq& req, const ResyncOptions& options);
  bool StopResource(const std::string& cloud_uuid);

  size_t vm_monitors() const { return vm_.size(); }
  size_t resource_monitors() const { return resource_.size(); }

  // Live changes, each sent to every active monitor of its kind. For kLeave pass the record as
  // it was before removal. `blank_uuid` reports the VM with the uuid "vm-", as when vCenter
  // could not read a new VM's identity.
  void VmChanged(Change change, const CorvelVMRuntime& vm, bool blank_uuid = false);
  void HostChanged(Change change, const CorvelHostRuntime& host);
  void ClusterChanged(Change change, const CorvelClusterRuntime& cluster);
  void PortGroupChanged(Change change, const CorvelNWRuntime& pg);
  void DatacenterChanged();
  // A connection report to the cloud that `req` names, monitored or not.
  void ReportStatus(const VIVcenterMonitorReq& req, bool connected, CORVEL_STATUS status,
                    const std::string& text);
  // A connection report to the cloud of every VM monitor.
  void ConnectionStatus(bool connected, CORVEL_STATUS status, const std::string& text);
  // Every VM again as "modify", in batches, to every VM monitor: a burst of updates.
  void BulkVmUpdate();

 private:
  struct Monitor {
    std::string cloud_uuid;
    std::string vcenter_url;
    std::string dc_uuid;
  };

  static std::string VmStream(const std::string& cloud) { return "vm:" + cloud; }
  static std::string ResourceStream(const std::string& cloud) { return "resource:" + cloud; }
  static Monitor MonitorOf(const VIVcenterMonitorReq& req);
  void QueueVmSequence(const Monitor& m, bool resync, const ResyncOptions& options);
  void SendResource(const Monitor& m, VIGlobalResourceNotif msg);

  const Inventory& inv_;
  Notifier& notifier_;
  int batch_size_;
  std::map<std::string, Monitor> vm_;        // by cloud uuid
  std::map<std::string, Monitor> resource_;  // by cloud uuid
};

}  // namespace vcmgr_sim
