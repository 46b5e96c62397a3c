#include "platform/svc/tcp/tcp_rpc_channel.h"

#include <boost/asio/post.hpp>
#include <glog/logging.h>

#include "platform/svc/rpc_status_controller.h"
#include "platform/svc/tcp/frame_codec.h"

void TcpRpcChannel::CallMethod(const google::protobuf::MethodDescriptor* method,
                               google::protobuf::RpcController* controller,
                               const google::protobuf::Message* request,
                               google::protobuf::Message* response,
                               google::protobuf::Closure* done) {
  const bool one_way = response == nullptr && done == nullptr;
  kyv::RpcFrame frame;
  frame.set_kind(one_way ? kyv::RpcFrame::ONE_WAY : kyv::RpcFrame::REQUEST);
  frame.set_service(method->service()->full_name());
  frame.set_method_index(method->index());
  if (request && !request->SerializeToString(frame.mutable_payload())) {
    LOG(WARNING) << "TCP RPC " << method->full_name() << ": request not serializable";
    if (!one_way) FailLater(controller, done, SYSERR_RPC_BAD_REQUEST, "request not serializable");
    return;
  }
  // The call id, set below, takes at most 11 more bytes.
  if (frame.ByteSizeLong() + 11 > kyv::kMaxFrameBytes) {
    LOG(WARNING) << "TCP RPC " << method->full_name() << ": request of "
                 << frame.payload().size() << " bytes over the frame limit";
    if (!one_way) FailLater(controller, done, SYSERR_RPC_BAD_REQUEST, "request too large");
    return;
  }

  if (one_way) {
    if (!client_->connected()) {
      VLOG(1) << "TCP RPC " << method->full_name() << ": link down, one-way call dropped";
      return;
    }
    client_->Send(frame);
    return;
  }

  auto* tcp_controller = dynamic_cast<TcpClientRpcController*>(controller);
  auto* processor = dynamic_cast<TcpRpcRespProcessor*>(client_->processor());
  if (!tcp_controller || !processor) {
    LOG(ERROR) << "TCP RPC " << method->full_name()
               << ": two-way call needs a TcpClientRpcController and a TcpRpcRespProcessor";
    FailLater(controller, done, SYSERR_RPC_BAD_REQUEST, "unsupported controller or processor");
    return;
  }
  if (!client_->connected()) {
    FailLater(controller, done, SYSERR_RPC_CONN_DOWN, "connection down");
    return;
  }
  const uint64_t id = processor->AddCall(client_, tcp_controller, response, done);
  frame.set_call_id(id);
  if (!client_->Send(frame)) processor->FailCallLater(id, SYSERR_RPC_CONN_DOWN, "send failed");
}

void TcpRpcChannel::FailLater(google::protobuf::RpcController* controller,
                              google::protobuf::Closure* done, Syserr code,
                              const std::string& text) {
  boost::asio::post(client_->io_context(), [controller, done, code, text] {
    if (auto* status = dynamic_cast<kyv::RpcStatusController*>(controller)) {
      status->SetFailed(code, text);
    } else if (controller) {
      controller->SetFailed(text);
    }
    if (done) done->Run();
  });
}
