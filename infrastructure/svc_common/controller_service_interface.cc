#include "infrastructure/svc_common/controller_service_interface.h"

#include "controller/vinfra/corvel/corvel_controller_intf.h"
#include "platform/datastore/datastore.h"
#include "platform/datastore/transaction.h"
#include "platform/siblings/sibling_workers.h"

DEFINE_string(role, "leader", "Current role of this controller");
DEFINE_int32(instance, 0, "Instance number for the controller service");
DEFINE_string(leader_addr, "localhost", "Address of the controller leader");
DEFINE_string(node_uuid, "", "Node uuid of the local controller");
DEFINE_bool(debugmode, true, "Debug Mode");

const std::string ControllerServiceInterface::kDefaultRole = "leader";

namespace {

struct ServiceNameEntry {
  const char* name;
  ControllerServiceInterface::ControllerServicesId id;
};

// The order in which names are matched.
const ServiceNameEntry kServiceNames[] = {
    {"vs_mgr", ControllerServiceInterface::kCONTROLLER_SVC_VIRTUAL_SERVICE},
    {"se_mgr", ControllerServiceInterface::kCONTROLLER_SVC_SEMGR},
    {"corvel", ControllerServiceInterface::kCONTROLLER_SVC_CORVEL},
    {"se_res_mgr", ControllerServiceInterface::kCONTROLLER_SVC_RES_MGR},
    {"metrics_mgr", ControllerServiceInterface::kCONTROLLER_SVC_METRICS_MGR},
    {"res_mgr_read", ControllerServiceInterface::kCONTROLLER_SVC_RES_MGR_READ},
};

}  // namespace

ControllerServiceInterface* ControllerServiceInterface::CreateInstance(
    ControllerServicesId svc_id, boost::asio::io_context& ios, TaskQueue* p_global_taskq,
    Datastore* p_datastore, std::string master_redis_ip) {
  VLOG(3) << "Creating Service: " << static_cast<int>(svc_id);
  ControllerServiceInterface* worker = nullptr;
  switch (svc_id) {
    case kCONTROLLER_SVC_VIRTUAL_SERVICE:
      worker = new VSWorkerService(svc_id, ios, p_global_taskq, p_datastore);
      break;
    case kCONTROLLER_SVC_SEMGR:
      worker = new SeMgrWorker(svc_id, ios, p_global_taskq, p_datastore, master_redis_ip);
      break;
    case kCONTROLLER_SVC_RES_MGR:
    case kCONTROLLER_SVC_RES_MGR_READ:
      worker = new SeResMgrWorker(svc_id, ios, p_global_taskq, p_datastore, master_redis_ip);
      break;
    case kCONTROLLER_SVC_CORVEL:
      worker = new CorvelWorker(svc_id, ios, p_global_taskq, p_datastore, true);
      break;
    case kCONTROLLER_SVC_METRICS_MGR:
      worker = new MetricsMgrWorker(svc_id, ios, p_global_taskq, p_datastore);
      break;
    default:
      break;
  }
  // The worker is returned whatever its initialisation reports.
  if (worker != nullptr) worker->Initialize();

  if (Datastore::g_db_ != nullptr) Datastore::g_db_->set_mode(Datastore::DATASTORE_MODE_NORMAL);
  if (Transaction::transaction_ != nullptr) Transaction::transaction_ = nullptr;
  return worker;
}

ControllerServiceInterface::ControllerServicesId ControllerServiceInterface::service_id(
    const std::string& service_name) {
  for (const auto& e : kServiceNames) {
    if (service_name == e.name) return e.id;
  }
  return kCONTROLLER_SVC_UNKNOWN;
}

std::string ControllerServiceInterface::service_name(ControllerServicesId svc_id) {
  for (const auto& e : kServiceNames) {
    if (svc_id == e.id) return e.name;
  }
  return "unknown";
}

bool ControllerServiceInterface::is_controller_leader() { return FLAGS_role == kDefaultRole; }

const std::string& ControllerServiceInterface::controller_addr() { return FLAGS_leader_addr; }

const std::string& ControllerServiceInterface::node_uuid() { return FLAGS_node_uuid; }

int ControllerServiceInterface::instance() { return FLAGS_instance; }
