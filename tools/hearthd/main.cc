// hearthd: the controller host process. Opens the datastore, creates the I/O context and the
// task queue, creates the requested service workers through the factory, serves the admin port
// and runs everything on one thread until SIGINT or SIGTERM.
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <gflags/gflags.h>
#include <glog/logging.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "controller/vinfra/corvel/corvel_cli_service_impl.h"
#include "controller/vinfra/corvel/corvel_controller_intf.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "infrastructure/svc_common/controller_service_interface.h"
#include "platform/common/cli_help.h"
#include "platform/common/common_utils.h"
#include "platform/datastore/datastore.h"
#include "platform/datastore/transaction.h"
#include "platform/svc/task_queue.h"
#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_server.h"
#include "proto/config.pb.h"
#include "tools/hearthd/config_service.h"

DEFINE_string(datastore, "sqlite:var/hearthd.db",
              "Datastore: sqlite:PATH for a SQLite file, or memory for a throw-away one");
DEFINE_int32(admin_port, 5090, "Admin port on loopback (0 picks a free port)");
DEFINE_string(services, "vs_mgr,se_mgr,se_res_mgr,metrics_mgr,corvel",
              "Comma-separated services to create, by name, in this order");
DEFINE_string(cluster_uuid, "cluster-0", "Controller cluster uuid, when the cluster table is empty");
DEFINE_string(cluster_name, "cluster-0", "Controller cluster name, when the cluster table is empty");
DEFINE_string(controller_ips, "127.0.0.1",
              "Comma-separated node addresses of the bootstrapped cluster record");
DEFINE_string(controller_vip, "", "Virtual IP of the bootstrapped cluster record (empty: none)");
DEFINE_string(controller_vm_mors, "vm-1",
              "Comma-separated VM references of the nodes of the bootstrapped cluster record");

namespace {

std::vector<std::string> SplitList(const std::string& s) {
  std::vector<std::string> out;
  if (s.empty()) return out;
  for (auto& part : str_split(s, ",")) {
    if (!part.empty()) out.push_back(part);
  }
  return out;
}

std::unique_ptr<Datastore> OpenDatastore(std::string* err) {
  if (FLAGS_datastore == "memory") return Datastore::InMemory();
  const std::string prefix = "sqlite:";
  if (FLAGS_datastore.compare(0, prefix.size(), prefix) != 0) {
    *err = "--datastore must be sqlite:PATH or memory, not '" + FLAGS_datastore + "'";
    return nullptr;
  }
  const std::string path = FLAGS_datastore.substr(prefix.size());
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::error_code ec;
    std::filesystem::create_directories(path.substr(0, slash), ec);
  }
  return Datastore::OpenSqlite(path, err);
}

// Writes a Cluster record from the flags when the table has none, so the connector can learn
// the controller's identity on a fresh datastore.
Syserr BootstrapCluster(Datastore* db) {
  const std::string table = db_table_name_from_pb(Cluster::descriptor()->name());
  std::vector<std::pair<std::string, std::string>> pairs;
  Syserr err = db->GetAll(table, &pairs, 0);
  if (err != SYSERR_SUCCESS || !pairs.empty()) return err;
  Cluster cluster;
  cluster.set_uuid(FLAGS_cluster_uuid);
  cluster.set_name(FLAGS_cluster_name);
  if (!FLAGS_controller_vip.empty()) {
    cluster.mutable_virtual_ip()->set_addr(FLAGS_controller_vip);
    cluster.mutable_virtual_ip()->set_type(V4);
  }
  auto mors = SplitList(FLAGS_controller_vm_mors);
  auto ips = SplitList(FLAGS_controller_ips);
  for (size_t i = 0; i < ips.size(); ++i) {
    ClusterNode* node = cluster.add_nodes();
    node->set_name("node-" + std::to_string(i + 1));
    node->mutable_ip()->set_addr(ips[i]);
    node->mutable_ip()->set_type(V4);
    if (i < mors.size()) node->set_vm_mor(mors[i]);
  }
  auto* txn = new Transaction();
  txn->db_view()->DbUpdate(DbIndex(table, cluster.uuid()), &cluster, nullptr, false, false, false);
  return txn->Commit(false);
}

}  // namespace

int main(int argc, char** argv) {
  gflags::SetUsageMessage(
      "the controller host process.\n"
      "  hearthd [--datastore=sqlite:PATH|memory] [--admin_port=N] [--vcmgr_port=N]\n"
      "          [--enable_vcmgr_notif --vcmgr_notif_port=N] [--services=a,b,...]\n"
      "Prints \"hearthd ready admin_port=N\" on standard output once it serves.");
  FLAGS_logtostderr = true;
  kyv::HandleHelpFlag(argc, argv,
                      {"tools/hearthd", "controller/vinfra", "infrastructure/svc_common",
                       "platform/events"});
  gflags::ParseCommandLineFlags(&argc, &argv, true);
  google::InitGoogleLogging(argv[0]);

  std::string err;
  std::unique_ptr<Datastore> db = OpenDatastore(&err);
  if (!db) {
    std::cerr << "hearthd: cannot open the datastore: " << err << "\n";
    return 2;
  }
  Datastore::g_db_ = db.get();

  boost::asio::io_context io;
  db->AttachObjectClient(&io);
  TaskQueue taskq(io);

  if (BootstrapCluster(db.get()) != SYSERR_SUCCESS) {
    std::cerr << "hearthd: cannot write the controller cluster record\n";
    return 2;
  }

  std::vector<std::unique_ptr<ControllerServiceInterface>> workers;
  CorvelWorker* corvel = nullptr;
  for (const auto& name : SplitList(FLAGS_services)) {
    auto id = ControllerServiceInterface::service_id(name);
    if (id == ControllerServiceInterface::kCONTROLLER_SVC_UNKNOWN) {
      std::cerr << "hearthd: unknown service '" << name << "'\n";
      return 2;
    }
    auto* w = ControllerServiceInterface::CreateInstance(id, io, &taskq, db.get(), "127.0.0.1");
    if (w == nullptr) continue;
    if (id == ControllerServiceInterface::kCONTROLLER_SVC_CORVEL) corvel = static_cast<CorvelWorker*>(w);
    workers.emplace_back(w);
  }

  ConfigServiceImpl config(db.get(), [corvel] { return corvel != nullptr && corvel->link_up(); });
  TcpRpcReqProcessor admin_processor;
  admin_processor.register_service(&config);
  if (corvel != nullptr) {
    admin_processor.register_service(corvel->service());
    admin_processor.register_service(corvel->cli_service());
  }
  TcpServer admin(io, static_cast<uint16_t>(FLAGS_admin_port), &admin_processor, "127.0.0.1");
  if (!admin.start_server(nullptr)) {
    std::cerr << "hearthd: cannot listen on admin port " << FLAGS_admin_port << "\n";
    return 2;
  }

  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const boost::system::error_code& ec, int signo) {
    if (ec) return;
    LOG(INFO) << "hearthd: signal " << signo << ", stopping";
    for (auto& w : workers) w->Terminate();
    admin.stop();
    io.stop();
  });

  std::cout << "hearthd ready admin_port=" << admin.port() << std::endl;
  io.run();
  workers.clear();
  Datastore::g_db_ = nullptr;
  return 0;
}
