// vcmgr-sim at datacenter scale: building a large inventory, rendering a full VM
// resynchronisation for one cloud, and delivering it over loopback to a receiver.
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <google/protobuf/stubs/callback.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_server.h"
#include "proto/corvel_service.pb.h"
#include "tools/vcmgr_sim/cloud_view.h"
#include "tools/vcmgr_sim/generator.h"
#include "tools/vcmgr_sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Counts what arrives, as the connector's notification port would receive it.
class CountingReceiver : public CorvelService {
 public:
  void VIGlobalVMNotification(google::protobuf::RpcController*, const VIGlobalVMNotif* req, VoidResponse*,
                              google::protobuf::Closure* done) override {
    ++batches;
    vms += req->vm_notify_list_size();
    last = !req->more();
    done->Run();
  }
  int batches = 0;
  int vms = 0;
  bool last = false;
};

}  // namespace

int main() {
  vcmgr_sim::GenerateSizes sizes;
  sizes.hosts = 2500;
  sizes.vms = 40000;
  sizes.pgs = 3000;

  boost::asio::io_context io;
  auto work = boost::asio::make_work_guard(io);
  CountingReceiver receiver;
  TcpRpcReqProcessor receiver_processor;
  receiver_processor.register_service(&receiver);
  TcpServer receiver_server(io, 0, &receiver_processor);
  if (!receiver_server.start_server()) return 1;

  vcmgr_sim::Simulator::Options options;
  options.port = 0;
  options.notify.port = receiver_server.port();
  vcmgr_sim::Simulator sim(io, options);

  auto start = Clock::now();
  vcmgr_sim::SimInventory data;
  std::string error;
  if (!vcmgr_sim::GenerateInventory(sizes, &data, &error) || !sim.Load(std::move(data), &error)) {
    std::fprintf(stderr, "vcmgr_sim_bench: %s\n", error.c_str());
    return 1;
  }
  const auto& inv = sim.inventory();
  std::printf("generate+check: %.3f s for %d hosts, %d clusters, %d port groups, %d VMs, %zu vNICs\n",
              Seconds(start), inv.data().hosts_size(), inv.data().clusters_size(), inv.data().port_groups_size(),
              inv.data().vms_size(), inv.vnic_count());

  start = Clock::now();
  size_t bytes = 0;
  const vcmgr_sim::CloudView view(inv, "cloud-bench");
  VIGlobalVMNotif batch;
  for (const auto& vm : inv.data().vms()) {
    view.Vm(vm, batch.add_vm_notify_list()->mutable_vm_info());
    if (batch.vm_notify_list_size() == options.batch_size) {
      bytes += batch.ByteSizeLong();
      batch.Clear();
    }
  }
  bytes += batch.ByteSizeLong();
  std::printf("render VM resync: %.3f s, %.1f MB\n", Seconds(start), bytes / 1e6);

  VIVcenterMonitorReq req;
  req.mutable_admin()->set_name(inv.vcenter().username());
  req.mutable_admin()->set_password(inv.vcenter().password());
  req.set_cloud_uuid("cloud-bench");
  req.set_dc_uuid("datacenter-2-cloud-bench");
  VoidResponse rsp;
  start = Clock::now();
  sim.service().StartGlobalVMNotif(nullptr, &req, &rsp, google::protobuf::NewCallback(+[] {}));
  while (!receiver.last) io.run_one();
  const double secs = Seconds(start);
  std::printf("deliver VM resync over loopback: %.3f s, %d batches, %.0f VMs/s\n", secs, receiver.batches,
              receiver.vms / secs);

  sim.Stop();
  receiver_server.stop();
  io.restart();
  io.poll();
  return 0;
}
