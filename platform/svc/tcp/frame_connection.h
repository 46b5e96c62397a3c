// One TCP connection that carries RpcFrames in both directions.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/svc/tcp/rpc_frame.pb.h"

namespace kyv {

// Reads frames and hands each to a handler; queues outgoing frames and writes them in batches.
// Must be owned by a shared_ptr: pending I/O keeps it alive until it completes. All methods
// run on the thread of the socket's I/O context.
class FrameConnection : public std::enable_shared_from_this<FrameConnection> {
 public:
  // Called for each frame read, in order. May close the connection.
  using FrameHandler = std::function<void(RpcFrame&& frame)>;
  // Called once when the connection ends by itself (peer closed, I/O error, bad input), with
  // a reason for the log (kPeerClosed for an orderly close). Not called after Close().
  using CloseHandler = std::function<void(const std::string& reason)>;

  static constexpr const char* kPeerClosed = "peer closed";
  // Outgoing bytes that may wait for the peer before the connection is given up.
  static constexpr size_t kMaxQueuedBytes = 256u << 20;

  explicit FrameConnection(boost::asio::ip::tcp::socket socket);
  ~FrameConnection();
  FrameConnection(const FrameConnection&) = delete;
  FrameConnection& operator=(const FrameConnection&) = delete;

  // Starts reading. Call once.
  void Start(FrameHandler on_frame, CloseHandler on_close);
  // Queues `frame` for sending. False if the connection is closed or the frame is over the
  // size limit (nothing is sent then).
  bool Send(const RpcFrame& frame);
  // Closes the socket; the handlers are never called again. Idempotent.
  void Close();
  bool is_open() const { return !closed_; }
  // "address:port" of the peer, for log lines.
  const std::string& peer() const { return peer_; }

 private:
  void DoRead();
  void OnRead(const boost::system::error_code& ec, size_t n);
  void DoWrite();
  void OnWrite(const boost::system::error_code& ec);
  // Closes and reports `reason` through the close handler, once.
  void Fail(const std::string& reason);

  boost::asio::ip::tcp::socket socket_;
  std::string peer_;
  FrameHandler on_frame_;
  CloseHandler on_close_;
  bool closed_ = false;
  std::vector<char> read_chunk_;
  std::string inbox_;     // bytes read but not yet decoded
  std::string outbox_;    // frames queued while a write is in flight
  std::string in_flight_; // bytes of the write in flight
  bool writing_ = false;
};

// A handle on a connection that may outlive it: Send does nothing once the connection is gone.
class FramePeer {
 public:
  FramePeer() = default;
  explicit FramePeer(const std::shared_ptr<FrameConnection>& conn) : conn_(conn) {}
  // Queues `frame` on the connection. False if the connection is gone or refused the frame.
  bool Send(const RpcFrame& frame) const;
  // Closes the connection, if it is still there.
  void Close() const;

 private:
  std::weak_ptr<FrameConnection> conn_;
};

}  // namespace kyv
