// Server side of TCP RPC: dispatches request frames to registered services.
#pragma once

#include <google/protobuf/service.h>

#include <map>
#include <memory>
#include <string>

#include "platform/svc/svc_request_processor.h"
#include "platform/svc/tcp/tcp_processor.h"

// Finds the service by its full name and the method by its index, parses the payload and runs
// the method with a served-side SvcRpcController. When the service completes the call the
// response (or the controller's failure) goes back on the connection the request came from,
// if it is still there. A request for an unknown service or method, or with a payload that
// does not parse, is answered with SYSERR_RPC_BAD_REQUEST; the same faults in a one-way frame
// are logged and dropped. Single-threaded, like the servers it serves.
class TcpRpcReqProcessor : public TcpReqProcessor {
 public:
  TcpRpcReqProcessor();
  ~TcpRpcReqProcessor() override;

  // Serves `service` (not owned; it must outlive the processor). Several services may be
  // registered. False, and nothing changes, if one of the same full name already is.
  bool register_service(google::protobuf::Service* service);

  bool ProcessRequest(kyv::RpcFrame&& frame, const kyv::FramePeer& peer) override;

 private:
  std::map<std::string, std::unique_ptr<SvcRequestProcessor>> services_;
};
