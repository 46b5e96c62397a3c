#include "platform/svc/svc_request_processor.h"

#include <google/protobuf/empty.pb.h>
#include <google/protobuf/stubs/callback.h>

#include <utility>

namespace {

// Everything a served call needs until the service completes it.
struct ServedCall {
  SvcRpcController controller;
  std::unique_ptr<google::protobuf::Message> request;
  std::unique_ptr<google::protobuf::Message> response;
  SvcRequestProcessor::CallDone on_done;
};

void FinishServedCall(ServedCall* call) {
  std::unique_ptr<ServedCall> owned(call);
  if (owned->on_done) owned->on_done(owned->controller, *owned->response);
}

}  // namespace

SvcRequestProcessor::SvcRequestProcessor(google::protobuf::Service* service) : service_(service) {}

void SvcRequestProcessor::Dispatch(const google::protobuf::MethodDescriptor* method,
                                   std::unique_ptr<google::protobuf::Message> request,
                                   CallDone on_done) {
  auto call = std::make_unique<ServedCall>();
  call->on_done = std::move(on_done);
  if (method->service() != service_->GetDescriptor() || !request ||
      request->GetDescriptor() != method->input_type()) {
    // Generated services cast the request blindly (and abort on a foreign method): never hand
    // them one.
    const google::protobuf::Message* prototype =
        google::protobuf::MessageFactory::generated_factory()->GetPrototype(method->output_type());
    if (prototype) call->response.reset(prototype->New());
    if (!call->response) call->response = std::make_unique<google::protobuf::Empty>();
    call->controller.SetFailed(SYSERR_RPC_BAD_REQUEST,
                               "method " + method->full_name() + " is not served by " +
                                   service_->GetDescriptor()->full_name());
    FinishServedCall(call.release());
    return;
  }
  call->response.reset(service_->GetResponsePrototype(method).New());
  call->request = std::move(request);
  google::protobuf::Closure* done =
      google::protobuf::NewCallback(&FinishServedCall, call.get());
  call->controller.set_callback(done);
  ServedCall* raw = call.release();  // freed by `done`
  service_->CallMethod(method, &raw->controller, raw->request.get(), raw->response.get(), done);
}
