// Datastore commit costs at vCenter scale. Prints seconds per phase; no assertions.
//
//   commit-10000/<backend>: one transaction writing 10,000 VM-sized records (insert into an
//     empty store, then a rewrite of the same keys).
//   dc-40000-uuids: a datacenter record listing 40,000 uuids, updated once per VM inside one
//     transaction (tracked message: mark dirty only), then committed.
//   vm-commit-with-dc/<backend>: one commit per VM that rewrites the 40,000-uuid datacenter
//     record and the VM record (the cost of committing per notification).
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/datastore/datastore.h"
#include "platform/datastore/ds_widget.pb.h"
#include "platform/datastore/transaction.h"

namespace {

const char kTable[] = "dswidget";
const char kCloud[] = "cloud-3f2a6c1e-8d4b-4f7e-9a21-5b6c7d8e9f00";

double Seconds(const std::function<void()>& fn) {
  auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

DsWidgetRuntime VmRecord(int i) {
  DsWidgetRuntime r;
  std::string mor = "vm-" + std::to_string(1000 + i);
  r.set_uuid(mor + "-" + kCloud);
  r.set_managed_object_id(mor);
  r.set_name("web-frontend-" + std::to_string(i));
  for (int n = 0; n < 4; ++n) r.add_child_uuids("dvportgroup-" + std::to_string(n) + "-" + kCloud);
  r.set_counter(i);
  return r;
}

// Writes `n` VM records in one transaction; returns {update seconds, commit seconds}.
std::pair<double, double> CommitVms(Datastore* db, int n) {
  std::vector<DsWidgetRuntime> vms;
  vms.reserve(n);
  for (int i = 0; i < n; ++i) vms.push_back(VmRecord(i));
  Transaction* txn = new Transaction(db);
  double update = Seconds([&] {
    for (const DsWidgetRuntime& vm : vms) {
      txn->db_view()->DbUpdate(DbIndex(kTable, vm.uuid()), nullptr, &vm);
    }
  });
  Syserr rc = SYSERR_SUCCESS;
  double commit = Seconds([&] { rc = txn->Commit(false); });
  if (rc != SYSERR_SUCCESS) std::fprintf(stderr, "commit failed: %d\n", rc);
  return {update, commit};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kyv-ds-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  bool ok() const { return !path_.empty(); }

 private:
  std::filesystem::path path_;
};

std::unique_ptr<Datastore> Open(const std::string& backend, const TempDir& dir, int run) {
  if (backend == "memory") return Datastore::InMemory();
  std::string err;
  auto db = Datastore::OpenSqlite(dir.File("bench-" + std::to_string(run) + ".db"), &err);
  if (db == nullptr) std::fprintf(stderr, "cannot open SQLite store: %s\n", err.c_str());
  return db;
}

void BenchCommit10000(const TempDir& dir) {
  constexpr int kRecords = 10000;
  constexpr int kRuns = 5;
  for (const char* backend : {"memory", "sqlite"}) {
    std::vector<double> upd, insert, rewrite;
    for (int run = 0; run < kRuns; ++run) {
      std::unique_ptr<Datastore> db = Open(backend, dir, run);
      if (db == nullptr) return;
      auto first = CommitVms(db.get(), kRecords);
      auto second = CommitVms(db.get(), kRecords);
      upd.push_back(first.first);
      insert.push_back(first.second);
      rewrite.push_back(second.second);
    }
    std::printf(
        "commit-%d/%-7s  DbUpdate %.3f s   commit insert %.3f s   commit rewrite %.3f s"
        "   (median of %d)\n",
        kRecords, backend, Median(upd), Median(insert), Median(rewrite), kRuns);
  }
}

DsWidgetRuntime DcRecord(int uuids) {
  DsWidgetRuntime dc;
  dc.set_uuid(std::string("datacenter-2-") + kCloud);
  dc.set_managed_object_id("datacenter-2");
  dc.set_name("DC-East");
  for (int i = 0; i < uuids; ++i) dc.add_child_uuids(VmRecord(i).uuid());
  return dc;
}

void BenchDcResync(const TempDir& dir) {
  constexpr int kVms = 40000;
  std::unique_ptr<Datastore> db = Open("sqlite", dir, 100);
  if (db == nullptr) return;
  DsWidgetRuntime empty_dc = DcRecord(0);
  DbIndex dc_index(kTable, empty_dc.uuid());
  Transaction* txn = new Transaction(db.get());
  txn->db_view()->DbUpdate(dc_index, nullptr, &empty_dc);
  txn->Commit(false);

  txn = new Transaction(db.get());
  txn->db_view()->CacheSubTree(dc_index, {}, DIRECTION_DOWN, "w");
  auto* dc = static_cast<DsWidgetRuntime*>(txn->db_view()->GetObject(dc_index)->obj_runtime());
  std::vector<std::string> uuids;
  uuids.reserve(kVms);
  for (int i = 0; i < kVms; ++i) uuids.push_back(VmRecord(i).uuid());
  double updates = Seconds([&] {
    for (const std::string& u : uuids) {
      dc->add_child_uuids(u);
      txn->db_view()->DbUpdate(dc_index, nullptr, dc);
    }
  });
  double commit = Seconds([&] { txn->Commit(false); });
  std::printf("dc-%d-uuids         %d DbUpdates of the tracked record %.3f s   commit %.3f s\n",
              kVms, kVms, updates, commit);
}

void BenchVmCommitWithDc(const TempDir& dir) {
  constexpr int kCommits = 200;
  for (const char* backend : {"memory", "sqlite"}) {
    std::unique_ptr<Datastore> db = Open(backend, dir, 200);
    if (db == nullptr) return;
    DsWidgetRuntime big_dc = DcRecord(40000);
    DbIndex dc_index(kTable, big_dc.uuid());
    Transaction* txn = new Transaction(db.get());
    txn->db_view()->DbUpdate(dc_index, nullptr, &big_dc);
    txn->Commit(false);
    double total = Seconds([&] {
      for (int i = 0; i < kCommits; ++i) {
        Transaction* t = new Transaction(db.get());
        DbView* view = t->db_view();
        view->CacheSubTree(dc_index, {}, DIRECTION_DOWN, "w");
        auto* dc = static_cast<DsWidgetRuntime*>(view->GetObject(dc_index)->obj_runtime());
        DsWidgetRuntime vm = VmRecord(50000 + i);
        dc->add_child_uuids(vm.uuid());
        view->DbUpdate(dc_index, nullptr, dc);
        view->DbUpdate(DbIndex(kTable, vm.uuid()), nullptr, &vm);
        t->Commit(false);
      }
    });
    std::printf("vm-commit-with-dc/%-7s  %.2f ms per commit (read + write of a %zu-byte record)\n",
                backend, total * 1000 / kCommits, big_dc.ByteSizeLong());
  }
}

}  // namespace

int main() {
  TempDir dir;
  if (!dir.ok()) {
    std::fprintf(stderr, "cannot create a temporary directory\n");
    return 1;
  }
  BenchCommit10000(dir);
  BenchDcResync(dir);
  BenchVmCommitWithDc(dir);
  return 0;
}
