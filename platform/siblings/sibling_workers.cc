#include "platform/siblings/sibling_workers.h"

#include <glog/logging.h>

SiblingWorker::SiblingWorker(ControllerServicesId svc_id, std::vector<std::string> services)
    : svc_id_(svc_id), service_names_(std::move(services)) {}

SiblingWorker::~SiblingWorker() { Terminate(); }

Syserr SiblingWorker::Initialize() {
  for (const auto& name : service_names_) {
    const auto* desc = google::protobuf::DescriptorPool::generated_pool()->FindServiceByName(name);
    if (desc == nullptr) {
      LOG(WARNING) << "Sibling service " << name << " is not in the schema";
      continue;
    }
    auto svc = std::make_unique<RecordingService>(desc);
    if (!svc->Subscribe()) {
      LOG(WARNING) << "Sibling service " << name << " could not subscribe to its queue";
      continue;
    }
    services_.push_back(std::move(svc));
  }
  return SYSERR_SUCCESS;
}

Syserr SiblingWorker::Terminate() {
  services_.clear();
  return ControllerServiceInterface::Terminate();
}

VSWorkerService::VSWorkerService(ControllerServicesId svc_id, boost::asio::io_context&, TaskQueue*,
                                 Datastore*)
    : SiblingWorker(svc_id, {"PoolService", "NetworkMgrService"}) {}

SeMgrWorker::SeMgrWorker(ControllerServicesId svc_id, boost::asio::io_context&, TaskQueue*,
                         Datastore*, std::string)
    : SiblingWorker(svc_id, {"SeMgrService"}) {}

SeResMgrWorker::SeResMgrWorker(ControllerServicesId svc_id, boost::asio::io_context&, TaskQueue*,
                               Datastore*, std::string)
    : SiblingWorker(svc_id, svc_id == kCONTROLLER_SVC_RES_MGR_READ
                                ? std::vector<std::string>{}
                                : std::vector<std::string>{"SeResMgrService"}) {}

MetricsMgrWorker::MetricsMgrWorker(ControllerServicesId svc_id, boost::asio::io_context&,
                                   TaskQueue*, Datastore*)
    : SiblingWorker(svc_id, {}) {}
