#include "tools/vcmgr_sim/simulator.h"

#include <glog/logging.h>

#include <unordered_set>
#include <utility>

#include "tools/vcmgr_sim/inventory_diff.h"

namespace vcmgr_sim {

Simulator::Simulator(boost::asio::io_context& io, Options options)
    : io_(io),
      options_(std::move(options)),
      notifier_(io, options_.notify),
      feed_(inventory_, notifier_, options_.batch_size),
      service_(inventory_, faults_, feed_),
      shaper_(io, &processor_, options_.shape) {
  processor_.register_service(&service_);
}

Simulator::~Simulator() { Stop(); }

bool Simulator::Load(SimInventory inventory, std::string* error) {
  return inventory_.Reset(std::move(inventory), error);
}

bool Simulator::Start(std::string* error) {
  if (server_) {
    *error = "already started";
    return false;
  }
  server_ = std::make_unique<TcpServer>(io_, options_.port, &shaper_, "127.0.0.1");
  if (!server_->start_server()) {
    server_.reset();
    *error = "cannot listen on 127.0.0.1:" + std::to_string(options_.port);
    return false;
  }
  return true;
}

bool Simulator::Reload(SimInventory next, std::string* error) {
  std::unordered_set<std::string> in_file;
  for (const auto& vm : next.vms()) in_file.insert(vm.managed_object_id());
  std::unordered_set<std::string> hosts, pgs;
  for (const auto& h : next.hosts()) hosts.insert(h.managed_object_id());
  for (const auto& pg : next.port_groups()) pgs.insert(pg.managed_object_id());
  std::vector<std::string> kept;
  for (const std::string& mor : inventory_.CreatedVms()) {
    const CorvelVMRuntime* vm = inventory_.FindVm(mor);
    if (in_file.count(mor) || !hosts.count(vm->host())) continue;
    CorvelVMRuntime* copy = next.add_vms();
    *copy = *vm;
    for (auto& nic : *copy->mutable_guest_nic()) {
      if (nic.network_uuid().empty() || pgs.count(nic.network_uuid())) continue;
      nic.clear_network_uuid();
      nic.set_network_name("none");
      nic.clear_guest_ip();
    }
    kept.push_back(mor);
  }
  const SimInventory before = inventory_.data();
  if (!inventory_.Reset(std::move(next), error)) return false;
  for (const std::string& mor : kept) inventory_.MarkCreated(mor);
  const InventoryDiff diff = DiffInventories(before, inventory_.data());
  LOG(INFO) << "inventory reloaded: " << diff.clusters.size() << " cluster, " << diff.hosts.size() << " host, "
            << diff.port_groups.size() << " port group and " << diff.vms.size() << " VM changes";
  ReportDiff(diff, inventory_.vcenter().connected(), &feed_);
  return true;
}

void Simulator::Stop() {
  if (server_) server_->stop();
  notifier_.Stop();
}

}  // namespace vcmgr_sim
