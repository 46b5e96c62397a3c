#include "platform/svc/tcp/tcp_server.h"

#include <boost/asio/ip/tcp.hpp>
#include <glog/logging.h>

#include <chrono>
#include <set>
#include <utility>

#include "platform/common/clock.h"
#include "platform/svc/tcp/frame_connection.h"

namespace kyv {

// The server's state, shared with its pending handlers so that they outlive neither it nor
// the TcpServer's stop().
class TcpServerCore : public std::enable_shared_from_this<TcpServerCore> {
 public:
  TcpServerCore(boost::asio::io_context& io, uint16_t port, TcpReqProcessor* processor,
                std::string bind_address)
      : io_(io),
        acceptor_(io),
        requested_port_(port),
        processor_(processor),
        bind_address_(std::move(bind_address)) {}

  bool Start();
  void Stop();
  uint16_t port() const { return bound_port_; }
  size_t connection_count() const { return connections_.size(); }

 private:
  void Accept();
  void OnAccepted(const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket);
  void OnFrame(const std::shared_ptr<FrameConnection>& conn, RpcFrame&& frame);

  boost::asio::io_context& io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  uint16_t requested_port_;
  uint16_t bound_port_ = 0;
  TcpReqProcessor* processor_;
  std::string bind_address_;
  bool started_ = false;
  bool stopped_ = false;
  std::set<std::shared_ptr<FrameConnection>> connections_;
  std::unique_ptr<TimerHandle> accept_retry_;
};

bool TcpServerCore::Start() {
  if (started_ || stopped_) {
    LOG(WARNING) << "TCP server on port " << bound_port_ << ": start_server ignored";
    return false;
  }
  boost::system::error_code ec;
  auto address = boost::asio::ip::make_address(bind_address_, ec);
  if (ec) {
    LOG(ERROR) << "TCP server: bad bind address '" << bind_address_ << "': " << ec.message();
    return false;
  }
  const boost::asio::ip::tcp::endpoint endpoint(address, requested_port_);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(boost::asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(boost::asio::socket_base::max_listen_connections, ec);
  if (ec) {
    LOG(ERROR) << "TCP server: cannot listen on " << bind_address_ << ":" << requested_port_
               << ": " << ec.message();
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    return false;
  }
  bound_port_ = acceptor_.local_endpoint(ec).port();
  started_ = true;
  LOG(INFO) << "TCP server listening on " << bind_address_ << ":" << bound_port_;
  Accept();
  return true;
}

void TcpServerCore::Stop() {
  if (stopped_) return;
  stopped_ = true;
  accept_retry_.reset();
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  for (const auto& conn : connections_) conn->Close();
  connections_.clear();
}

void TcpServerCore::Accept() {
  acceptor_.async_accept([self = shared_from_this()](const boost::system::error_code& ec,
                                                     boost::asio::ip::tcp::socket socket) {
    self->OnAccepted(ec, std::move(socket));
  });
}

void TcpServerCore::OnAccepted(const boost::system::error_code& ec,
                               boost::asio::ip::tcp::socket socket) {
  if (stopped_) return;
  if (ec) {
    // Out of descriptors and the like: try again shortly rather than spin.
    LOG(WARNING) << "TCP server on port " << bound_port_ << ": accept failed: " << ec.message();
    std::weak_ptr<TcpServerCore> weak = shared_from_this();
    accept_retry_ = GetClock().Schedule(io_, std::chrono::milliseconds(100), [weak] {
      if (auto self = weak.lock()) self->Accept();
    });
    return;
  }
  boost::system::error_code ignored;
  socket.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
  auto conn = std::make_shared<FrameConnection>(std::move(socket));
  connections_.insert(conn);
  VLOG(1) << "TCP server on port " << bound_port_ << ": connection from " << conn->peer();
  std::weak_ptr<TcpServerCore> weak_self = shared_from_this();
  std::weak_ptr<FrameConnection> weak_conn = conn;
  conn->Start(
      [weak_self, weak_conn](RpcFrame&& frame) {
        auto self = weak_self.lock();
        auto conn = weak_conn.lock();
        if (self && conn) self->OnFrame(conn, std::move(frame));
      },
      [weak_self, weak_conn, port = bound_port_](const std::string& reason) {
        auto self = weak_self.lock();
        auto conn = weak_conn.lock();
        if (!self || !conn) return;
        // An orderly close is routine; anything else is the peer's fault or the network's.
        if (reason == FrameConnection::kPeerClosed) {
          VLOG(1) << "TCP server on port " << port << ": " << conn->peer() << " closed";
        } else {
          LOG(WARNING) << "TCP server on port " << port << ": closing connection from "
                       << conn->peer() << ": " << reason;
        }
        self->connections_.erase(conn);
      });
  Accept();
}

void TcpServerCore::OnFrame(const std::shared_ptr<FrameConnection>& conn, RpcFrame&& frame) {
  if (processor_->ProcessRequest(std::move(frame), FramePeer(conn))) return;
  LOG(WARNING) << "TCP server on port " << bound_port_ << ": closing connection from "
               << conn->peer() << ": protocol error";
  conn->Close();
  connections_.erase(conn);
}

}  // namespace kyv

TcpServer::TcpServer(boost::asio::io_context& io, uint16_t port, TcpReqProcessor* processor,
                     const std::string& bind_address)
    : core_(std::make_shared<kyv::TcpServerCore>(io, port, processor, bind_address)) {}

TcpServer::~TcpServer() { core_->Stop(); }

bool TcpServer::start_server(void* /*strand*/) { return core_->Start(); }

uint16_t TcpServer::port() const { return core_->port(); }

void TcpServer::stop() { core_->Stop(); }

size_t TcpServer::connection_count() const { return core_->connection_count(); }
