// The whole simulator on one I/O context: inventory, service, notifications and the server.
#pragma once

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_server.h"
#include "tools/vcmgr_sim/call_shaper.h"
#include "tools/vcmgr_sim/fault_table.h"
#include "tools/vcmgr_sim/inventory.h"
#include "tools/vcmgr_sim/monitor_feed.h"
#include "tools/vcmgr_sim/notifier.h"
#include "tools/vcmgr_sim/sim_service.h"

namespace vcmgr_sim {

// Owns every part of the simulator and serves vCenterMgrService on 127.0.0.1. Everything runs
// on the I/O context given at construction, which must outlive the simulator; after Stop() the
// owner should run that context once more (poll) so that calls cut short complete before the
// simulator is destroyed. Single-threaded.
class Simulator {
 public:
  struct Options {
    uint16_t port = 5007;
    Notifier::Options notify;
    int batch_size = 500;
    CallShaper::Options shape;
  };

  Simulator(boost::asio::io_context& io, Options options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Installs a first inventory; false with `*error` naming the field when it does not pass the
  // checks.
  bool Load(SimInventory inventory, std::string* error);
  // Starts listening. False with `*error` when the port cannot be bound.
  bool Start(std::string* error);
  // The bound port; 0 before Start.
  uint16_t port() const { return server_ ? server_->port() : 0; }
  // Replaces the inventory with `next`, keeping the SE VMs created through RPCs whose host is
  // still there (their vNICs on vanished port groups are disconnected), and reports the
  // differences to the active monitors. On failure nothing changes.
  bool Reload(SimInventory next, std::string* error);
  // Stops serving and sending. Idempotent.
  void Stop();

  Inventory& inventory() { return inventory_; }
  FaultTable& faults() { return faults_; }
  Notifier& notifier() { return notifier_; }
  MonitorFeed& feed() { return feed_; }
  SimService& service() { return service_; }
  CallShaper& shaper() { return shaper_; }

 private:
  boost::asio::io_context& io_;
  Options options_;
  Inventory inventory_;
  FaultTable faults_;
  Notifier notifier_;
  MonitorFeed feed_;
  SimService service_;
  TcpRpcReqProcessor processor_;
  CallShaper shaper_;
  std::unique_ptr<TcpServer> server_;
};

}  // namespace vcmgr_sim
