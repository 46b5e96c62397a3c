#include "platform/svc/tcp/tcp_rpc_resp_processor.h"

#include <boost/asio/post.hpp>
#include <glog/logging.h>

#include <chrono>
#include <utility>
#include <vector>

#include "platform/svc/tcp/tcp_client.h"

TcpRpcRespProcessor::TcpRpcRespProcessor() = default;

TcpRpcRespProcessor::~TcpRpcRespProcessor() {
  if (!calls_.empty()) {
    LOG(WARNING) << "TCP RPC response processor destroyed with " << calls_.size()
                 << " calls pending; their closures will not run";
  }
}

uint64_t TcpRpcRespProcessor::AddCall(TcpClient* client, TcpClientRpcController* controller,
                                      google::protobuf::Message* response,
                                      google::protobuf::Closure* done) {
  const uint64_t id = next_id_++;
  Call& call = calls_[id];
  call.client = client;
  call.controller = controller;
  call.response = response;
  call.done = done;
  const int timeout_sec = controller ? controller->timeout_in_sec() : 0;
  if (timeout_sec > 0) {
    // The handle belongs to the call, so the timer cannot fire once the call is over.
    call.deadline = kyv::GetClock().Schedule(client->io_context(), std::chrono::seconds(timeout_sec),
                                             [this, id] { Complete(id, SYSERR_RPC_TIMED_OUT, "timed out"); });
  }
  return id;
}

void TcpRpcRespProcessor::FailCallLater(uint64_t id, Syserr code, const std::string& text) {
  auto it = calls_.find(id);
  if (it == calls_.end()) return;
  boost::asio::post(it->second.client->io_context(),
                    [this, alive = std::weak_ptr<char>(alive_), id, code, text] {
                      if (!alive.expired()) Complete(id, code, text);
                    });
}

void TcpRpcRespProcessor::Complete(uint64_t id, Syserr code, const std::string& text) {
  auto it = calls_.find(id);
  if (it == calls_.end()) return;
  Call call = std::move(it->second);
  calls_.erase(it);
  call.deadline.reset();
  Finish(call, code, text);
}

void TcpRpcRespProcessor::Finish(Call& call, Syserr code, const std::string& text) {
  if (code != SYSERR_SUCCESS && call.controller) call.controller->SetFailed(code, text);
  if (call.done) call.done->Run();
}

bool TcpRpcRespProcessor::ProcessResponse(TcpClient* client, kyv::RpcFrame&& frame) {
  if (frame.kind() != kyv::RpcFrame::RESPONSE) {
    LOG(WARNING) << "TCP RPC client " << client->host() << ":" << client->port()
                 << ": unexpected frame of kind " << frame.kind() << " from the server";
    return false;
  }
  auto it = calls_.find(frame.call_id());
  if (it == calls_.end() || it->second.client != client) {
    VLOG(1) << "TCP RPC: response to call " << frame.call_id()
            << " that is not pending (late after a time-out?), dropped";
    return true;
  }
  Call call = std::move(it->second);
  calls_.erase(it);
  call.deadline.reset();
  if (frame.status() != SYSERR_SUCCESS) {
    const Syserr code = Syserr_IsValid(frame.status()) ? static_cast<Syserr>(frame.status())
                                                       : SYSERR_RPC_FAILURE;
    std::string text = frame.error_text();
    if (text.empty()) text = "remote failure " + std::to_string(frame.status());
    Finish(call, code, text);
  } else if (call.response && (!call.response->ParsePartialFromString(frame.payload()) ||
                                !call.response->IsInitialized())) {
    Finish(call, SYSERR_RPC_FAILURE, "unparsable response");
  } else {
    Finish(call, SYSERR_SUCCESS, "");
  }
  return true;
}

void TcpRpcRespProcessor::ConnectionDown(TcpClient* client) {
  auto lost = std::make_shared<std::vector<Call>>();
  for (auto it = calls_.begin(); it != calls_.end();) {
    if (it->second.client == client) {
      it->second.deadline.reset();
      lost->push_back(std::move(it->second));
      it = calls_.erase(it);
    } else {
      ++it;
    }
  }
  if (lost->empty()) return;
  VLOG(1) << "TCP link to " << client->host() << ":" << client->port() << " down: failing "
          << lost->size() << " pending calls";
  // The calls no longer belong to the processor or the client: completing them needs neither.
  boost::asio::post(client->io_context(), [lost] {
    for (Call& call : *lost) Finish(call, SYSERR_RPC_CONN_DOWN, "connection down");
  });
}
