#include "tools/vcmgr_sim/monitor_feed.h"

#include <glog/logging.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "tools/vcmgr_sim/cloud_view.h"

namespace vcmgr_sim {

namespace {

const char kDeleted[] = "DELETE";

// Batches of VM notifications over a snapshot of VM MORs taken when the sequence starts; a VM
// removed meanwhile is left out. Renders each batch when asked for it.
class VmSequenceSource : public NotificationSource {
 public:
  VmSequenceSource(const Inventory& inv, std::string cloud, std::string url, std::string dc_uuid,
                   std::vector<std::string> mors, int batch, bool resync, bool error_entry)
      : inv_(inv),
        view_(inv, std::move(cloud)),
        url_(std::move(url)),
        dc_uuid_(std::move(dc_uuid)),
        mors_(std::move(mors)),
        batch_(batch),
        resync_(resync),
        error_entry_(error_entry) {}

  bool Next(Notification* out) override {
    if (done_) return false;
    auto msg = std::make_unique<VIGlobalVMNotif>();
    msg->set_vcenter_url(url_);
    msg->set_dc_uuid(dc_uuid_);
    msg->set_resync(resync_ && first_);
    const std::string& dc_mor = inv_.datacenter().managed_object_id();
    if (first_ && error_entry_) {
      VIVMNotif* e = msg->add_vm_notify_list();
      e->set_datacenter(dc_mor);
      e->set_operation("error");
    }
    first_ = false;
    const size_t end = std::min(mors_.size(), pos_ + static_cast<size_t>(batch_));
    for (; pos_ < end; ++pos_) {
      const CorvelVMRuntime* vm = inv_.FindVm(mors_[pos_]);
      if (!vm) continue;
      VIVMNotif* e = msg->add_vm_notify_list();
      e->set_datacenter(dc_mor);
      e->set_operation(OperationOf(resync_ ? Change::kEnter : Change::kModify));
      view_.Vm(*vm, e->mutable_vm_info());
    }
    done_ = pos_ >= mors_.size();
    msg->set_more(!done_);
    out->message = std::move(msg);
    return true;
  }

 private:
  const Inventory& inv_;
  CloudView view_;
  std::string url_;
  std::string dc_uuid_;
  std::vector<std::string> mors_;
  size_t pos_ = 0;
  int batch_;
  bool resync_;
  bool error_entry_;
  bool first_ = true;
  bool done_ = false;
};

// A resource resynchronisation: the datacenter in the first batch, then hosts, clusters and
// port groups, `batch` objects per message.
class ResourceResyncSource : public NotificationSource {
 public:
  ResourceResyncSource(const Inventory& inv, std::string cloud, std::string url, std::string dc_uuid,
                       int batch, bool empty)
      : inv_(inv), view_(inv, std::move(cloud)), url_(std::move(url)), dc_uuid_(std::move(dc_uuid)),
        batch_(batch), empty_(empty) {
    if (empty) return;
    for (const auto& h : inv.data().hosts()) items_.push_back({Kind::kHost, h.managed_object_id()});
    for (const auto& c : inv.data().clusters()) items_.push_back({Kind::kCluster, c.managed_object_id()});
    for (const auto& p : inv.data().port_groups()) items_.push_back({Kind::kPortGroup, p.managed_object_id()});
  }

  bool Next(Notification* out) override {
    if (done_) return false;
    auto msg = std::make_unique<VIGlobalResourceNotif>();
    msg->set_vcenter_url(url_);
    msg->set_dc_uuid(dc_uuid_);
    msg->set_resync(first_);
    const std::string& dc_mor = inv_.datacenter().managed_object_id();
    if (first_ && !empty_) {
      VIDCNotif* dc = msg->add_dc_notify_list();
      dc->set_operation(OperationOf(Change::kEnter));
      *dc->mutable_dc_info() = view_.DatacenterInfo();
    }
    first_ = false;
    const size_t end = std::min(items_.size(), pos_ + static_cast<size_t>(batch_));
    for (; pos_ < end; ++pos_) {
      const Item& item = items_[pos_];
      const char* op = OperationOf(Change::kEnter);
      if (item.kind == Kind::kHost) {
        if (const auto* h = inv_.FindHost(item.mor)) {
          VIHostNotif* n = msg->add_host_notify_list();
          n->set_datacenter(dc_mor);
          n->set_operation(op);
          view_.Host(*h, n->mutable_host_info());
        }
      } else if (item.kind == Kind::kCluster) {
        if (const auto* c = inv_.FindCluster(item.mor)) {
          VIClusterNotif* n = msg->add_cluster_notify_list();
          n->set_operation(op);
          view_.Cluster(*c, n->mutable_cluster_info());
        }
      } else if (const auto* pg = inv_.FindPortGroup(item.mor)) {
        VIPGNotif* n = msg->add_pg_notify_list();
        n->set_datacenter(dc_mor);
        n->set_operation(op);
        view_.PortGroup(*pg, n->mutable_pg_info());
      }
    }
    done_ = pos_ >= items_.size();
    msg->set_more(!done_);
    out->message = std::move(msg);
    return true;
  }

 private:
  enum class Kind { kHost, kCluster, kPortGroup };
  struct Item {
    Kind kind;
    std::string mor;
  };

  const Inventory& inv_;
  CloudView view_;
  std::string url_;
  std::string dc_uuid_;
  int batch_;
  bool empty_;
  std::vector<Item> items_;
  size_t pos_ = 0;
  bool first_ = true;
  bool done_ = false;
};

}  // namespace

const char* OperationOf(Change change) {
  switch (change) {
    case Change::kEnter:
      return "enter";
    case Change::kModify:
      return "modify";
    case Change::kLeave:
      return "leave";
  }
  return "modify";
}

MonitorFeed::Monitor MonitorFeed::MonitorOf(const VIVcenterMonitorReq& req) {
  return Monitor{req.cloud_uuid(), req.admin().vcenter_url(), req.dc_uuid()};
}

void MonitorFeed::StartVm(const VIVcenterMonitorReq& req, const ResyncOptions& options) {
  Monitor m = MonitorOf(req);
  notifier_.Drop(VmStream(m.cloud_uuid));
  vm_[m.cloud_uuid] = m;
  LOG(INFO) << "VM monitor started for cloud " << m.cloud_uuid << " (" << m.vcenter_url << ", "
            << m.dc_uuid << ")";
  QueueVmSequence(m, true, options);
}

bool MonitorFeed::StopVm(const std::string& cloud_uuid) {
  notifier_.Drop(VmStream(cloud_uuid));
  return vm_.erase(cloud_uuid) > 0;
}

void MonitorFeed::StartResource(const VIVcenterMonitorReq& req, const ResyncOptions& options) {
  Monitor m = MonitorOf(req);
  notifier_.Drop(ResourceStream(m.cloud_uuid));
  resource_[m.cloud_uuid] = m;
  LOG(INFO) << "resource monitor started for cloud " << m.cloud_uuid;
  notifier_.Enqueue(ResourceStream(m.cloud_uuid),
                    std::make_unique<ResourceResyncSource>(inv_, m.cloud_uuid, m.vcenter_url, m.dc_uuid,
                                                           batch_size_, options.empty));
}

bool MonitorFeed::StopResource(const std::string& cloud_uuid) {
  notifier_.Drop(ResourceStream(cloud_uuid));
  return resource_.erase(cloud_uuid) > 0;
}

void MonitorFeed::QueueVmSequence(const Monitor& m, bool resync, const ResyncOptions& options) {
  std::vector<std::string> mors;
  if (!options.empty) {
    mors.reserve(inv_.data().vms_size());
    for (const auto& vm : inv_.data().vms()) mors.push_back(vm.managed_object_id());
  }
  notifier_.Enqueue(VmStream(m.cloud_uuid),
                    std::make_unique<VmSequenceSource>(inv_, m.cloud_uuid, m.vcenter_url, m.dc_uuid,
                                                       std::move(mors), batch_size_, resync,
                                                       options.error_entry));
}

void MonitorFeed::VmChanged(Change change, const CorvelVMRuntime& vm, bool blank_uuid) {
  for (const auto& [cloud, m] : vm_) {
    auto msg = std::make_unique<VIGlobalVMNotif>();
    msg->set_vcenter_url(m.vcenter_url);
    msg->set_dc_uuid(m.dc_uuid);
    VIVMNotif* e = msg->add_vm_notify_list();
    e->set_datacenter(change == Change::kLeave ? kDeleted : inv_.datacenter().managed_object_id());
    e->set_operation(OperationOf(change));
    CloudView(inv_, cloud).Vm(vm, e->mutable_vm_info());
    if (blank_uuid) e->mutable_vm_info()->set_uuid("vm-");
    notifier_.Enqueue(VmStream(cloud), Notification{std::move(msg)});
  }
}

void MonitorFeed::SendResource(const Monitor& m, VIGlobalResourceNotif msg) {
  auto out = std::make_unique<VIGlobalResourceNotif>(std::move(msg));
  out->set_vcenter_url(m.vcenter_url);
  out->set_dc_uuid(m.dc_uuid);
  notifier_.Enqueue(ResourceStream(m.cloud_uuid), Notification{std::move(out)});
}

void MonitorFeed::HostChanged(Change change, const CorvelHostRuntime& host) {
  for (const auto& [cloud, m] : resource_) {
    VIGlobalResourceNotif msg;
    VIHostNotif* n = msg.add_host_notify_list();
    n->set_datacenter(change == Change::kLeave ? kDeleted : inv_.datacenter().managed_object_id());
    n->set_operation(OperationOf(change));
    CloudView(inv_, cloud).Host(host, n->mutable_host_info());
    SendResource(m, std::move(msg));
  }
}

void MonitorFeed::ClusterChanged(Change change, const CorvelClusterRuntime& cluster) {
  for (const auto& [cloud, m] : resource_) {
    VIGlobalResourceNotif msg;
    VIClusterNotif* n = msg.add_cluster_notify_list();
    n->set_operation(OperationOf(change));
    CloudView(inv_, cloud).Cluster(cluster, n->mutable_cluster_info());
    if (change == Change::kLeave) n->mutable_cluster_info()->set_datacenter_managed_object_id(kDeleted);
    SendResource(m, std::move(msg));
  }
}

void MonitorFeed::PortGroupChanged(Change change, const CorvelNWRuntime& pg) {
  for (const auto& [cloud, m] : resource_) {
    VIGlobalResourceNotif msg;
    VIPGNotif* n = msg.add_pg_notify_list();
    n->set_datacenter(change == Change::kLeave ? kDeleted : inv_.datacenter().managed_object_id());
    n->set_operation(OperationOf(change));
    CloudView(inv_, cloud).PortGroup(pg, n->mutable_pg_info());
    SendResource(m, std::move(msg));
  }
}

void MonitorFeed::DatacenterChanged() {
  for (const auto& [cloud, m] : resource_) {
    VIGlobalResourceNotif msg;
    VIDCNotif* n = msg.add_dc_notify_list();
    n->set_operation(OperationOf(Change::kModify));
    *n->mutable_dc_info() = CloudView(inv_, cloud).DatacenterInfo();
    SendResource(m, std::move(msg));
  }
}

void MonitorFeed::ConnectionStatus(bool connected, CORVEL_STATUS status, const std::string& text) {
  for (const auto& [cloud, m] : vm_) {
    VIVcenterMonitorReq req;
    req.set_cloud_uuid(m.cloud_uuid);
    req.set_dc_uuid(m.dc_uuid);
    req.mutable_admin()->set_vcenter_url(m.vcenter_url);
    ReportStatus(req, connected, status, text);
  }
}

void MonitorFeed::ReportStatus(const VIVcenterMonitorReq& req, bool connected, CORVEL_STATUS status,
                               const std::string& text) {
  const Monitor m = MonitorOf(req);
  auto msg = std::make_unique<VIVcenterStatus>();
  msg->set_vcenter_url(m.vcenter_url);
  msg->set_dc_uuid(m.dc_uuid);
  msg->set_connect_status(connected);
  msg->set_status(status);
  msg->set_status_string(text);
  notifier_.Enqueue(VmStream(m.cloud_uuid), Notification{std::move(msg)});
}

void MonitorFeed::BulkVmUpdate() {
  for (const auto& [cloud, m] : vm_) QueueVmSequence(m, false, ResyncOptions());
}

}  // namespace vcmgr_sim
