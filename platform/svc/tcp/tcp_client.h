// The client end of a TCP RPC link.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/svc/tcp/frame_connection.h"
#include "platform/svc/tcp/tcp_processor.h"

// Connects to a server and hands every frame it reads to a TcpRespProcessor. It never
// reconnects by itself: after a failed attempt or a lost link the owner calls start() again.
// Owned by a shared_ptr; used on the thread that runs its I/O context.
class TcpClient : public std::enable_shared_from_this<TcpClient> {
 public:
  using StateCallback = std::function<void(TcpClient*)>;

  // `processor` is not owned and must outlive the client. `host` and `port` are kept for
  // logs; start() connects to the endpoints it is given. `bind_to_intf`, when not empty, is
  // the local address (or network interface name) the connection is made from.
  TcpClient(boost::asio::io_context& io, const std::string& host, const std::string& port,
            TcpRespProcessor* processor, const std::string& bind_to_intf);
  // Closes the link like stop().
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // Connects asynchronously, trying `endpoints` in order. `up_cb` runs once the connection is
  // made; `down_cb` runs when every endpoint failed, or later when the established link is
  // lost. Both run on the I/O context, never inside this call. Ignored (with a log line) while
  // an attempt is in progress or the link is up; call it again after a failure.
  void start(const boost::asio::ip::tcp::resolver::results_type& endpoints,
             std::function<void(TcpClient*)> up_cb, std::function<void(TcpClient*)> down_cb);
  // True while the link is up.
  bool connected() const { return connected_; }
  // Closes the link or abandons the attempt in progress. No callback runs; the processor is
  // told the link is down (so calls pending on it fail). start() may be called again.
  void stop();

  // Queues `frame` on the link. False when the link is down or the frame is too large.
  bool Send(const kyv::RpcFrame& frame);

  boost::asio::io_context& io_context() { return io_; }
  TcpRespProcessor* processor() const { return processor_; }
  const std::string& host() const { return host_; }
  const std::string& port() const { return port_; }
  // Connections made so far.
  uint64_t connection_count() const { return connections_; }

 private:
  struct Attempt;
  void TryEndpoint(const std::shared_ptr<Attempt>& attempt);
  void OnConnected(const std::shared_ptr<Attempt>& attempt);
  void AttemptFailed(const std::shared_ptr<Attempt>& attempt);
  void LinkLost(const std::string& reason);
  bool OpenSocket(boost::asio::ip::tcp::socket& socket,
                  const boost::asio::ip::tcp::endpoint& remote, std::string* error);

  boost::asio::io_context& io_;
  std::string host_;
  std::string port_;
  TcpRespProcessor* processor_;
  std::string bind_to_intf_;
  StateCallback up_cb_;
  StateCallback down_cb_;
  std::shared_ptr<Attempt> attempt_;             // connection attempt in progress
  std::shared_ptr<kyv::FrameConnection> conn_;   // the link, while up
  bool connected_ = false;
  uint64_t connections_ = 0;
  // Handlers hold a weak reference to this token, so they notice when the client is gone.
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};
