// A stand-in for a sibling controller service: serves any service of the schema on its task
// queue, answers every call with an empty response and records what reached it, so that tests
// and the CLI can see the connector's reports.
#pragma once

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/service.h>

#include <memory>
#include <string>
#include <vector>

class SvcRequestProcessor;

class RecordingService : public google::protobuf::Service {
 public:
  struct Call {
    std::string method;
    std::unique_ptr<google::protobuf::Message> request;
  };

  // `descriptor` must outlive the service (descriptors of the generated pool do).
  explicit RecordingService(const google::protobuf::ServiceDescriptor* descriptor);
  ~RecordingService() override;

  // Subscribes to the task queue named by the service's `service_q_name` option. Returns false
  // when the service has no queue name or no task queue exists.
  bool Subscribe();
  void Unsubscribe();
  const std::string& queue_name() const { return queue_name_; }

  const std::vector<Call>& calls() const { return calls_; }
  void clear_calls() { calls_.clear(); }

  // Every recording service that is currently subscribed, found by service name ("PoolService").
  static RecordingService* Find(const std::string& service_name);

  const google::protobuf::ServiceDescriptor* GetDescriptor() override { return descriptor_; }
  void CallMethod(const google::protobuf::MethodDescriptor* method,
                  google::protobuf::RpcController* controller,
                  const google::protobuf::Message* request, google::protobuf::Message* response,
                  google::protobuf::Closure* done) override;
  const google::protobuf::Message& GetRequestPrototype(
      const google::protobuf::MethodDescriptor* method) const override;
  const google::protobuf::Message& GetResponsePrototype(
      const google::protobuf::MethodDescriptor* method) const override;

 private:
  const google::protobuf::ServiceDescriptor* descriptor_;
  std::string queue_name_;
  std::unique_ptr<SvcRequestProcessor> processor_;
  bool subscribed_ = false;
  std::vector<Call> calls_;
};
