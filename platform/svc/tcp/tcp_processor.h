// What TcpClient and TcpServer hand the frames they read to.
#pragma once

#include "platform/svc/tcp/frame_connection.h"
#include "platform/svc/tcp/rpc_frame.pb.h"

class TcpClient;

// Client side: receives what arrives on a TcpClient's connection. Called on the client's I/O
// context. Must outlive the clients that use it.
class TcpRespProcessor {
 public:
  virtual ~TcpRespProcessor() = default;
  // One frame read from `client`'s connection. Returning false marks the frame as a protocol
  // breach: the client closes the link (then ConnectionDown and the down callback follow).
  virtual bool ProcessResponse(TcpClient* client, kyv::RpcFrame&& frame) = 0;
  // `client`'s link is down (lost or stopped): whatever was pending on it will not be answered.
  virtual void ConnectionDown(TcpClient* client) = 0;
};

// Server side: receives the requests and one-way frames read by a TcpServer's connections.
// Called on the server's I/O context. Must outlive the servers that use it.
class TcpReqProcessor {
 public:
  virtual ~TcpReqProcessor() = default;
  // One frame of kind REQUEST or ONE_WAY. `peer` answers on the connection it came from; it
  // may be kept and used later, and does nothing once that connection is gone. Returning
  // false marks the frame as a protocol breach: the server closes that connection.
  virtual bool ProcessRequest(kyv::RpcFrame&& frame, const kyv::FramePeer& peer) = 0;
};
