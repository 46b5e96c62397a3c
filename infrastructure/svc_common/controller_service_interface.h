// The base class of every controller service worker, the flags that describe this controller's
// role, and the factory that creates a worker from a service identifier.
//
// The class has no non-inline virtual function, so libraries that define workers (the connector,
// the siblings) can derive from it without linking this library; only the host and the factory's
// callers link libhearth.
#pragma once

#include <boost/asio/io_context.hpp>
#include <gflags/gflags.h>
#include <glog/logging.h>

#include <string>

#include "proto/syserr.pb.h"

class TaskQueue;
class Datastore;

DECLARE_string(role);
DECLARE_int32(instance);
DECLARE_string(leader_addr);
DECLARE_string(node_uuid);
DECLARE_bool(debugmode);

class ControllerServiceInterface {
 public:
  enum ControllerServicesId {
    kCONTROLLER_SVC_UNKNOWN = 0,
    kCONTROLLER_SVC_VIRTUAL_SERVICE = 1,
    kCONTROLLER_SVC_SEMGR = 2,
    kCONTROLLER_SVC_RES_MGR = 3,
    kCONTROLLER_SVC_FIREWALL = 4,
    kCONTROLLER_SVC_CORVEL = 5,
    kCONTROLLER_SVC_METRICS_MGR = 6,
    kCONTROLLER_SVC_RES_MGR_READ = 9,
  };

  static const std::string kDefaultRole;

  virtual ~ControllerServiceInterface() {}
  virtual Syserr Initialize() = 0;
  virtual Syserr OutOfService() = 0;
  // Pure, with a body that derived workers may call.
  virtual Syserr Terminate() = 0;
  virtual Syserr Restart() = 0;
  virtual Syserr Upgrade() = 0;
  virtual void PrepareForColdRestart() = 0;
  virtual ControllerServicesId id() = 0;

  // Creates and initialises the worker of `svc_id`, or returns null for an identifier without a
  // worker. The caller owns the worker. Whatever the identifier, the process datastore is put back
  // into normal mode and the process-wide current transaction is cleared before returning.
  static ControllerServiceInterface* CreateInstance(ControllerServicesId svc_id,
                                                    boost::asio::io_context& ios,
                                                    TaskQueue* p_global_taskq,
                                                    Datastore* p_datastore,
                                                    std::string master_redis_ip);

  // Exact, case-sensitive name lookup; unknown names give kCONTROLLER_SVC_UNKNOWN.
  static ControllerServicesId service_id(const std::string& service_name);
  // The service's name; "unknown" for identifiers without a name of their own.
  static std::string service_name(ControllerServicesId svc_id);
  // True exactly when the flag `role` equals kDefaultRole.
  static bool is_controller_leader();
  static const std::string& controller_addr();
  static const std::string& node_uuid();
  static int instance();
};

inline Syserr ControllerServiceInterface::Terminate() {
  VLOG(3) << "Terminating Service Interface:" << id() << "\n";
  return SYSERR_SUCCESS;
}
