// vcmgr-sim: a vCenter manager simulator for the connector's tests, demo and benchmarks.
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <glog/logging.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "tools/vcmgr_sim/generator.h"
#include "tools/vcmgr_sim/inventory_json.h"
#include "tools/vcmgr_sim/options.h"
#include "tools/vcmgr_sim/simulator.h"

namespace {

using vcmgr_sim::Options;

// Exit statuses: bad command line or inventory, and failure to serve.
constexpr int kUsageError = 2;
constexpr int kServeError = 1;

bool BuildInventory(const Options& opts, vcmgr_sim::SimInventory* inv, std::string* error) {
  if (opts.generate) {
    if (!vcmgr_sim::GenerateInventory(opts.generate_sizes, inv, error)) return false;
  } else if (!vcmgr_sim::LoadInventoryFile(opts.inventory_path, inv, error)) {
    return false;
  }
  vcmgr_sim::SimVcenter* vc = inv->mutable_vcenter();
  if (opts.set_vcenter_url) vc->set_url(opts.vcenter_url);
  if (!opts.vcenter_user.empty()) vc->set_username(opts.vcenter_user);
  if (!opts.vcenter_password.empty()) vc->set_password(opts.vcenter_password);
  return true;
}

void PrintStats(const vcmgr_sim::Inventory& inv, double seconds, bool generated) {
  const auto& d = inv.data();
  std::printf("%s in %.3f s: 1 datacenter, %d clusters, %d hosts, %d port groups, %d VMs, %zu vNICs\n",
              generated ? "generated" : "loaded", seconds, d.clusters_size(), d.hosts_size(), d.port_groups_size(),
              d.vms_size(), inv.vnic_count());
  std::fflush(stdout);
}

bool DumpInventory(const vcmgr_sim::SimInventory& inv, const std::string& path, std::string* error) {
  std::string json;
  if (!vcmgr_sim::InventoryToJson(inv, &json, error)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << json << "\n";
  out.close();
  if (!out) {
    *error = path + ": cannot write";
    return false;
  }
  return true;
}

// Handles SIGINT and SIGTERM (stop) and SIGUSR1 (reload the inventory file), re-arming itself.
void WaitForSignals(boost::asio::signal_set& signals, boost::asio::io_context& io, vcmgr_sim::Simulator& sim,
                    const Options& opts) {
  signals.async_wait([&](const boost::system::error_code& ec, int sig) {
    if (ec) return;
    if (sig != SIGUSR1) {
      LOG(INFO) << "signal " << sig << ": stopping";
      io.stop();
      return;
    }
    if (opts.inventory_path.empty()) {
      LOG(WARNING) << "SIGUSR1: a generated inventory has no file to reload";
    } else {
      vcmgr_sim::SimInventory next;
      std::string error;
      if (!BuildInventory(opts, &next, &error) || !sim.Reload(std::move(next), &error)) {
        LOG(ERROR) << "SIGUSR1: inventory not reloaded: " << error;
      }
    }
    WaitForSignals(signals, io, sim, opts);
  });
}

}  // namespace

int main(int argc, char** argv) {
  Options opts;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  switch (vcmgr_sim::ParseOptions(args, &opts, &error)) {
    case vcmgr_sim::ParseResult::kHelp:
      std::cout << vcmgr_sim::UsageText();
      return 0;
    case vcmgr_sim::ParseResult::kError:
      std::cerr << "vcmgr-sim: " << error << "\n(vcmgr-sim --help lists the flags)\n";
      return kUsageError;
    case vcmgr_sim::ParseResult::kRun:
      break;
  }
  FLAGS_logtostderr = true;
  FLAGS_v = opts.verbosity;
  google::InitGoogleLogging("vcmgr-sim");

  boost::asio::io_context io;
  vcmgr_sim::Simulator::Options sim_opts;
  sim_opts.port = static_cast<uint16_t>(opts.port);
  sim_opts.notify.host = opts.notify_host;
  sim_opts.notify.port = static_cast<uint16_t>(opts.notify_port);
  sim_opts.notify.window = opts.notify_window;
  sim_opts.batch_size = opts.batch_size;
  sim_opts.shape.latency_ms = opts.latency_ms;
  sim_opts.shape.drop_after = opts.drop_after;
  sim_opts.shape.no_answer = opts.no_answer;
  vcmgr_sim::Simulator sim(io, sim_opts);

  const auto start = std::chrono::steady_clock::now();
  vcmgr_sim::SimInventory inv;
  if (!BuildInventory(opts, &inv, &error) ||
      (!opts.dump_inventory.empty() && !DumpInventory(inv, opts.dump_inventory, &error)) ||
      !sim.Load(std::move(inv), &error)) {
    std::cerr << "vcmgr-sim: " << error << "\n";
    return kUsageError;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (opts.print_stats || opts.dry_run) PrintStats(sim.inventory(), seconds, opts.generate);
  if (opts.dry_run) return 0;

  if (!sim.Start(&error)) {
    std::cerr << "vcmgr-sim: " << error << "\n";
    return kServeError;
  }
  std::printf("vcmgr-sim ready port=%u\n", static_cast<unsigned>(sim.port()));
  std::fflush(stdout);

  boost::asio::signal_set signals(io, SIGINT, SIGTERM, SIGUSR1);
  WaitForSignals(signals, io, sim, opts);
  io.run();

  // Let calls cut short by the stop complete before everything is torn down.
  sim.Stop();
  io.restart();
  io.poll();
  return 0;
}
