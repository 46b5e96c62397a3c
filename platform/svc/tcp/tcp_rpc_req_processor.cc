#include "platform/svc/tcp/tcp_rpc_req_processor.h"

#include <glog/logging.h>

#include <utility>

#include "platform/svc/tcp/frame_codec.h"

namespace {

// Answers a request with a failure; for a one-way frame only logs it.
void Reject(const kyv::RpcFrame& frame, const kyv::FramePeer& peer, const std::string& text) {
  LOG(WARNING) << "TCP RPC server: " << text << " (call " << frame.call_id() << ")";
  if (frame.kind() != kyv::RpcFrame::REQUEST) return;
  kyv::RpcFrame answer;
  answer.set_call_id(frame.call_id());
  answer.set_kind(kyv::RpcFrame::RESPONSE);
  answer.set_status(SYSERR_RPC_BAD_REQUEST);
  answer.set_error_text(text);
  peer.Send(answer);
}

void SendResult(uint64_t call_id, const kyv::FramePeer& peer, const SvcRpcController& controller,
                const google::protobuf::Message& response) {
  kyv::RpcFrame answer;
  answer.set_call_id(call_id);
  answer.set_kind(kyv::RpcFrame::RESPONSE);
  if (controller.Failed()) {
    answer.set_status(controller.error_code());
    answer.set_error_text(controller.ErrorText());
  } else if (!response.SerializeToString(answer.mutable_payload()) ||
             answer.ByteSizeLong() > kyv::kMaxFrameBytes) {
    LOG(WARNING) << "TCP RPC server: response " << response.GetTypeName() << " of call "
                 << call_id << " not serializable or too large";
    answer.clear_payload();
    answer.set_status(SYSERR_RPC_FAILURE);
    answer.set_error_text("response not serializable or too large");
  }
  peer.Send(answer);  // dropped if the connection is gone
}

}  // namespace

TcpRpcReqProcessor::TcpRpcReqProcessor() = default;
TcpRpcReqProcessor::~TcpRpcReqProcessor() = default;

bool TcpRpcReqProcessor::register_service(google::protobuf::Service* service) {
  const std::string& name = service->GetDescriptor()->full_name();
  if (services_.count(name)) {
    LOG(WARNING) << "TCP RPC server: service " << name << " is already registered";
    return false;
  }
  services_.emplace(name, std::make_unique<SvcRequestProcessor>(service));
  return true;
}

bool TcpRpcReqProcessor::ProcessRequest(kyv::RpcFrame&& frame, const kyv::FramePeer& peer) {
  if (frame.kind() != kyv::RpcFrame::REQUEST && frame.kind() != kyv::RpcFrame::ONE_WAY) {
    LOG(WARNING) << "TCP RPC server: frame of kind " << frame.kind() << " is not a request";
    return false;
  }
  auto it = services_.find(frame.service());
  if (it == services_.end()) {
    Reject(frame, peer, "unknown service '" + frame.service() + "'");
    return true;
  }
  SvcRequestProcessor& processor = *it->second;
  const google::protobuf::ServiceDescriptor* service = processor.service()->GetDescriptor();
  if (frame.method_index() < 0 || frame.method_index() >= service->method_count()) {
    Reject(frame, peer,
           "unknown method index " + std::to_string(frame.method_index()) + " of " +
               service->full_name());
    return true;
  }
  const google::protobuf::MethodDescriptor* method = service->method(frame.method_index());
  std::unique_ptr<google::protobuf::Message> request(
      processor.service()->GetRequestPrototype(method).New());
  // Parsed partially, then checked: a missing required field is the peer's fault, not ours.
  if (!request->ParsePartialFromString(frame.payload()) || !request->IsInitialized()) {
    Reject(frame, peer, "unparsable " + request->GetTypeName() + " for " + method->full_name());
    return true;
  }
  SvcRequestProcessor::CallDone on_done;
  if (frame.kind() == kyv::RpcFrame::REQUEST) {
    on_done = [call_id = frame.call_id(), peer](const SvcRpcController& controller,
                                               const google::protobuf::Message& response) {
      SendResult(call_id, peer, controller, response);
    };
  }
  processor.Dispatch(method, std::move(request), std::move(on_done));
  return true;
}
