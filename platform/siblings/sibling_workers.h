// Minimal workers of the sibling controller services that the factory creates. Each serves the
// sibling services of the schema that the connector reports to, through RecordingService, and
// otherwise does nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "infrastructure/svc_common/controller_service_interface.h"
#include "platform/siblings/recording_service.h"

// Shared body of the sibling workers: subscribes the named services at Initialize and
// unsubscribes them at Terminate or destruction.
class SiblingWorker : public ControllerServiceInterface {
 public:
  SiblingWorker(ControllerServicesId svc_id, std::vector<std::string> services);
  ~SiblingWorker() override;

  Syserr Initialize() override;
  Syserr OutOfService() override { return SYSERR_SUCCESS; }
  Syserr Terminate() override;
  Syserr Restart() override { return SYSERR_SUCCESS; }
  Syserr Upgrade() override { return SYSERR_SUCCESS; }
  void PrepareForColdRestart() override {}
  ControllerServicesId id() override { return svc_id_; }

  const std::vector<std::unique_ptr<RecordingService>>& services() const { return services_; }

 private:
  ControllerServicesId svc_id_;
  std::vector<std::string> service_names_;
  std::vector<std::unique_ptr<RecordingService>> services_;
};

// Virtual-service manager: hosts the pool service and the network manager.
class VSWorkerService : public SiblingWorker {
 public:
  VSWorkerService(ControllerServicesId svc_id, boost::asio::io_context& ios, TaskQueue* taskq,
                  Datastore* db);
};

class SeMgrWorker : public SiblingWorker {
 public:
  SeMgrWorker(ControllerServicesId svc_id, boost::asio::io_context& ios, TaskQueue* taskq,
              Datastore* db, std::string master_redis_ip);
};

// Serves the SE resource manager's queue only for the read-write identifier; the read replica
// (kCONTROLLER_SVC_RES_MGR_READ) has no queue of its own.
class SeResMgrWorker : public SiblingWorker {
 public:
  SeResMgrWorker(ControllerServicesId svc_id, boost::asio::io_context& ios, TaskQueue* taskq,
                 Datastore* db, std::string master_redis_ip);
};

class MetricsMgrWorker : public SiblingWorker {
 public:
  MetricsMgrWorker(ControllerServicesId svc_id, boost::asio::io_context& ios, TaskQueue* taskq,
                   Datastore* db);
};
