// The controller of one call over a TcpRpcChannel.
#pragma once

#include <google/protobuf/service.h>

#include "platform/svc/rpc_status_controller.h"

// One per two-way call (a one-way call may pass one too; it is not kept). The channel arms a
// deadline of timeout_in_sec from the moment of the call; when it passes first, the call
// completes with Failed(), error_code() SYSERR_RPC_TIMED_OUT and ErrorText() "timed out". A
// call made while the link is down or pending when it drops fails with SYSERR_RPC_CONN_DOWN.
// The caller owns the controller and keeps it until the call's closure has run.
class TcpClientRpcController : public kyv::RpcStatusController {
 public:
  // `service` identifies the peer service (not owned, may be null); `timeout_in_sec` <= 0
  // means no deadline.
  TcpClientRpcController(google::protobuf::Service* service, int timeout_in_sec)
      : service_(service), timeout_in_sec_(timeout_in_sec) {}

  google::protobuf::Service* service() const { return service_; }
  int timeout_in_sec() const { return timeout_in_sec_; }

 private:
  google::protobuf::Service* service_;
  int timeout_in_sec_;
};
