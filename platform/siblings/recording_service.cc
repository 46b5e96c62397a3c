#include "platform/siblings/recording_service.h"

#include <glog/logging.h>

#include <map>

#include "platform/svc/svc_request_processor.h"
#include "platform/svc/task_queue.h"
#include "proto/options.pb.h"

namespace {

std::map<std::string, RecordingService*>& Registry() {
  static std::map<std::string, RecordingService*> registry;
  return registry;
}

const google::protobuf::Message& Prototype(const google::protobuf::Descriptor* d) {
  return *google::protobuf::MessageFactory::generated_factory()->GetPrototype(d);
}

}  // namespace

RecordingService::RecordingService(const google::protobuf::ServiceDescriptor* descriptor)
    : descriptor_(descriptor), queue_name_(descriptor->options().GetExtension(service_q_name)) {}

RecordingService::~RecordingService() { Unsubscribe(); }

bool RecordingService::Subscribe() {
  if (subscribed_) return true;
  if (queue_name_.empty()) return false;
  processor_ = std::make_unique<SvcRequestProcessor>(this);
  TaskQueue::CreateTaskQueue(queue_name_, descriptor_->name(), false);
  TaskQueue::SubscribeToTaskQueuePattern(queue_name_, processor_.get(), nullptr, nullptr);
  subscribed_ = true;
  Registry()[descriptor_->name()] = this;
  return true;
}

void RecordingService::Unsubscribe() {
  if (!subscribed_) return;
  TaskQueue::UnsubscribeFromTaskQueuePattern(queue_name_);
  processor_.reset();
  subscribed_ = false;
  auto it = Registry().find(descriptor_->name());
  if (it != Registry().end() && it->second == this) Registry().erase(it);
}

RecordingService* RecordingService::Find(const std::string& service_name) {
  auto it = Registry().find(service_name);
  return it == Registry().end() ? nullptr : it->second;
}

void RecordingService::CallMethod(const google::protobuf::MethodDescriptor* method,
                                  google::protobuf::RpcController* controller,
                                  const google::protobuf::Message* request,
                                  google::protobuf::Message* response,
                                  google::protobuf::Closure* done) {
  Call call;
  call.method = method->name();
  call.request.reset(request->New());
  call.request->CopyFrom(*request);
  VLOG(3) << descriptor_->name() << "." << call.method << " " << request->ShortDebugString();
  calls_.push_back(std::move(call));
  if (done != nullptr) done->Run();
}

const google::protobuf::Message& RecordingService::GetRequestPrototype(
    const google::protobuf::MethodDescriptor* method) const {
  return Prototype(method->input_type());
}

const google::protobuf::Message& RecordingService::GetResponsePrototype(
    const google::protobuf::MethodDescriptor* method) const {
  return Prototype(method->output_type());
}
