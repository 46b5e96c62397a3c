// Stores a vCenter-scale datacenter through the connector's create-or-update functions in one
// transaction, commits it to SQLite and prints the time of each step and the peak memory.
//
//   corvel_store_bench [hosts=2500] [pgs=3000] [vms=40000] [nics=2]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "controller/vinfra/corvel/corvel_common.h"
#include "platform/datastore/datastore.h"
#include "platform/datastore/transaction.h"
#include "platform/events/event_api.h"

namespace {

constexpr char kCloud[] = "cloud-bench";

std::string Id(const std::string& mor) { return mor + "-" + kCloud; }

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssMiB() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024;
}

int Arg(int argc, char** argv, const char* name, int def) {
  const std::string prefix = std::string(name) + "=";
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind(prefix, 0) == 0) return std::atoi(argv[i] + prefix.size());
  }
  return def;
}

}  // namespace

int main(int argc, char** argv) {
  const int hosts = Arg(argc, argv, "hosts", 2500);
  const int pgs = Arg(argc, argv, "pgs", 3000);
  const int vms = Arg(argc, argv, "vms", 40000);
  const int nics = Arg(argc, argv, "nics", 2);
  FLAGS_event_log_file = "";

  const auto dir = std::filesystem::temp_directory_path() / ("corvel_store_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string err;
  auto db = Datastore::OpenSqlite((dir / "store.db").string(), &err);
  if (!db) {
    std::fprintf(stderr, "cannot open the datastore: %s\n", err.c_str());
    return 1;
  }
  Datastore::g_db_ = db.get();

  auto start = std::chrono::steady_clock::now();
  auto* txn = new Transaction();
  const std::string dc_uuid = Id("datacenter-2");
  VIDCInfo info;
  info.set_uuid(dc_uuid);
  info.set_name("DC-bench");
  info.set_managed_object_id("datacenter-2");
  CorvelDCRuntime* dc = nullptr;
  CorvelCreateDCinDbview(txn, dc_uuid, info, &dc);
  dc->set_cloud_uuid(kCloud);

  for (int i = 0; i < pgs; ++i) {
    CorvelNWRuntime pg;
    pg.set_uuid(Id("dvportgroup-" + std::to_string(i)));
    pg.set_name("pg-" + std::to_string(i));
    pg.set_managed_object_id("dvportgroup-" + std::to_string(i));
    pg.set_cloud_uuid(kCloud);
    pg.set_datacenter_uuid(dc_uuid);
    pg.set_dvs(true);
    CorvelNWRuntime* out = nullptr;
    CorvelCreatePGinDbView(txn, pg.uuid(), pg, "vrf-default", &out, "pg-0", true);
    CorvelUpdateDCPGRef(dc, pg.uuid());
  }
  for (int i = 0; i < hosts; ++i) {
    CorvelHostRuntime h;
    h.set_uuid(Id("host-" + std::to_string(i)));
    h.set_name("esx-" + std::to_string(i));
    h.set_managed_object_id("host-" + std::to_string(i));
    h.set_cloud_uuid(kCloud);
    h.set_powerstate("poweredOn");
    CorvelHostRuntime* out = nullptr;
    CorvelCreateHostinDbView(txn, h.uuid(), "vc.bench", h, &out, true);
    CorvelUpdateDCHostRef(dc, h.uuid());
  }
  CorvelDbUpdateRuntime(txn, dc);
  double t_infra = Seconds(start);

  for (int i = 0; i < vms; ++i) {
    CorvelVMRuntime vm;
    vm.set_uuid(Id("vm-" + std::to_string(i)));
    vm.set_name("vm-" + std::to_string(i));
    vm.set_managed_object_id("vm-" + std::to_string(i));
    vm.set_cloud_uuid(kCloud);
    vm.set_vcenter_datacenter_uuid(dc_uuid);
    vm.set_host(Id("host-" + std::to_string(i % hosts)));
    vm.set_powerstate("poweredOn");
    for (int n = 0; n < nics; ++n) {
      int pg = (i * nics + n) % pgs;
      auto* nic = vm.add_guest_nic();
      char mac[32];
      std::snprintf(mac, sizeof(mac), "00:50:56:%02x:%02x:%02x", (i >> 16) & 0xff, (i >> 8) & 0xff,
                    (i + n) & 0xff);
      nic->set_mac_addr(mac);
      nic->set_label("Network adapter " + std::to_string(n + 1));
      nic->set_network_name("pg-" + std::to_string(pg));
      nic->set_network_uuid(Id("dvportgroup-" + std::to_string(pg)));
      auto* ip = nic->add_guest_ip();
      ip->mutable_prefix()->mutable_ip_addr()->set_addr("10." + std::to_string(pg / 250) + "." +
                                                        std::to_string(pg % 250) + "." +
                                                        std::to_string(1 + i % 250));
      ip->mutable_prefix()->mutable_ip_addr()->set_type(V4);
      ip->mutable_prefix()->set_mask(24);
    }
    CorvelVMRuntime* out = nullptr;
    CorvelCreateVMinDbView(txn, vm, &out, true, false);
    CorvelUpdateDCVMRef(dc, vm.uuid());
    CorvelHostRuntime* host = nullptr;
    if (CorvelInventoryRetrieveHostinDbview(txn, vm.host(), &host) == SYSERR_SUCCESS) {
      CorvelUpdateHostVMRef(host, vm.uuid());
      CorvelDbUpdateRuntime(txn, host);
    }
    CorvelDbUpdateRuntime(txn, dc);  // discovery writes the datacenter once per VM
  }
  double t_vms = Seconds(start) - t_infra;

  auto commit_start = std::chrono::steady_clock::now();
  Syserr rc = txn->Commit(false);
  double t_commit = Seconds(commit_start);
  double total = Seconds(start);

  std::printf("corvel_store_bench: %d hosts, %d port groups, %d VMs x %d vNICs\n", hosts, pgs, vms,
              nics);
  std::printf("  hosts and port groups   %8.3f s\n", t_infra);
  std::printf("  VMs                     %8.3f s\n", t_vms);
  std::printf("  commit (SQLite)         %8.3f s   %s\n", t_commit,
              rc == SYSERR_SUCCESS ? "ok" : "FAILED");
  std::printf("  total                   %8.3f s   (goal: under 10 s)\n", total);
  std::printf("  peak memory             %8ld MiB (goal: under 1024 MiB)\n", PeakRssMiB());
  Datastore::g_db_ = nullptr;
  db.reset();
  std::filesystem::remove_all(dir);
  return rc == SYSERR_SUCCESS ? 0 : 1;
}
