#include "platform/svc/tcp/tcp_client.h"

#include <boost/asio/post.hpp>
#include <glog/logging.h>
#include <sys/socket.h>

#include <utility>
#include <vector>

struct TcpClient::Attempt {
  explicit Attempt(boost::asio::io_context& io) : socket(io) {}
  boost::asio::ip::tcp::socket socket;
  std::vector<boost::asio::ip::tcp::endpoint> endpoints;
  size_t next = 0;
  std::string last_error = "no address to connect to";
};

TcpClient::TcpClient(boost::asio::io_context& io, const std::string& host,
                     const std::string& port, TcpRespProcessor* processor,
                     const std::string& bind_to_intf)
    : io_(io), host_(host), port_(port), processor_(processor), bind_to_intf_(bind_to_intf) {}

TcpClient::~TcpClient() { stop(); }

void TcpClient::start(const boost::asio::ip::tcp::resolver::results_type& endpoints,
                      std::function<void(TcpClient*)> up_cb,
                      std::function<void(TcpClient*)> down_cb) {
  if (attempt_ || conn_) {
    LOG(WARNING) << "TCP client " << host_ << ":" << port_ << ": start ignored, "
                 << (conn_ ? "the link is up" : "a connection attempt is in progress");
    return;
  }
  up_cb_ = std::move(up_cb);
  down_cb_ = std::move(down_cb);
  auto attempt = std::make_shared<Attempt>(io_);
  for (const auto& entry : endpoints) attempt->endpoints.push_back(entry.endpoint());
  attempt_ = attempt;
  // Even an attempt that fails at once reports from the I/O context.
  boost::asio::post(io_, [this, alive = std::weak_ptr<char>(alive_), attempt] {
    if (!alive.expired()) TryEndpoint(attempt);
  });
}

bool TcpClient::OpenSocket(boost::asio::ip::tcp::socket& socket,
                           const boost::asio::ip::tcp::endpoint& remote, std::string* error) {
  boost::system::error_code ec;
  socket.close(ec);
  socket.open(remote.protocol(), ec);
  if (ec) {
    *error = "socket: " + ec.message();
    return false;
  }
  if (bind_to_intf_.empty()) return true;
  boost::system::error_code parse_ec;
  auto local = boost::asio::ip::make_address(bind_to_intf_, parse_ec);
  if (!parse_ec) {
    if (local.is_v4() != remote.address().is_v4()) {
      *error = "local address " + bind_to_intf_ + " is of another address family";
      return false;
    }
    socket.bind(boost::asio::ip::tcp::endpoint(local, 0), ec);
    if (ec) {
      *error = "bind to " + bind_to_intf_ + ": " + ec.message();
      return false;
    }
    return true;
  }
  // Not an address: an interface name.
  if (setsockopt(socket.native_handle(), SOL_SOCKET, SO_BINDTODEVICE, bind_to_intf_.c_str(),
                 static_cast<socklen_t>(bind_to_intf_.size())) != 0) {
    *error = "bind to interface " + bind_to_intf_ + " failed";
    return false;
  }
  return true;
}

void TcpClient::TryEndpoint(const std::shared_ptr<Attempt>& attempt) {
  if (attempt != attempt_) return;  // stopped meanwhile
  while (attempt->next < attempt->endpoints.size()) {
    const auto remote = attempt->endpoints[attempt->next++];
    if (!OpenSocket(attempt->socket, remote, &attempt->last_error)) continue;
    attempt->socket.async_connect(
        remote, [this, alive = std::weak_ptr<char>(alive_), attempt](
                    const boost::system::error_code& ec) {
          if (alive.expired() || attempt != attempt_) return;
          if (ec) {
            attempt->last_error = ec.message();
            TryEndpoint(attempt);
            return;
          }
          OnConnected(attempt);
        });
    return;
  }
  AttemptFailed(attempt);
}

void TcpClient::OnConnected(const std::shared_ptr<Attempt>& attempt) {
  attempt_.reset();
  boost::system::error_code ec;
  attempt->socket.set_option(boost::asio::ip::tcp::no_delay(true), ec);
  conn_ = std::make_shared<kyv::FrameConnection>(std::move(attempt->socket));
  connected_ = true;
  ++connections_;
  LOG(INFO) << "TCP link to " << host_ << ":" << port_ << " up (" << conn_->peer() << ")";
  std::weak_ptr<char> alive = alive_;
  conn_->Start(
      [this, alive](kyv::RpcFrame&& frame) {
        if (alive.expired()) return;
        const bool ok = processor_->ProcessResponse(this, std::move(frame));
        // The processor ran callers' closures, which may have stopped or freed this client.
        if (ok || alive.expired() || !conn_) return;
        conn_->Close();
        LinkLost("protocol error from the peer");
      },
      [this, alive](const std::string& reason) {
        if (!alive.expired()) LinkLost(reason);
      });
  StateCallback up = up_cb_;
  if (up) up(this);
}

void TcpClient::AttemptFailed(const std::shared_ptr<Attempt>& attempt) {
  attempt_.reset();
  VLOG(1) << "TCP connection to " << host_ << ":" << port_ << " failed: " << attempt->last_error;
  StateCallback down = down_cb_;
  if (down) down(this);
}

void TcpClient::LinkLost(const std::string& reason) {
  LOG(WARNING) << "TCP link to " << host_ << ":" << port_ << " lost: " << reason;
  connected_ = false;
  conn_.reset();
  processor_->ConnectionDown(this);
  StateCallback down = down_cb_;
  if (down) down(this);
}

void TcpClient::stop() {
  if (attempt_) {
    boost::system::error_code ignored;
    attempt_->socket.close(ignored);
    attempt_.reset();
  }
  const bool was_up = conn_ != nullptr;
  connected_ = false;
  if (conn_) {
    conn_->Close();
    conn_.reset();
  }
  if (was_up) processor_->ConnectionDown(this);
}

bool TcpClient::Send(const kyv::RpcFrame& frame) { return connected_ && conn_->Send(frame); }
