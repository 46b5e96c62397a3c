#include "platform/svc/tcp/frame_connection.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <glog/logging.h>

#include <string_view>
#include <utility>

#include "platform/svc/tcp/frame_codec.h"

namespace kyv {

namespace {

constexpr size_t kReadChunkBytes = 64 * 1024;

std::string DescribePeer(const boost::asio::ip::tcp::socket& socket) {
  boost::system::error_code ec;
  auto ep = socket.remote_endpoint(ec);
  if (ec) return "?";
  return ep.address().to_string() + ":" + std::to_string(ep.port());
}

}  // namespace

FrameConnection::FrameConnection(boost::asio::ip::tcp::socket socket)
    : socket_(std::move(socket)), peer_(DescribePeer(socket_)), read_chunk_(kReadChunkBytes) {}

FrameConnection::~FrameConnection() { Close(); }

void FrameConnection::Start(FrameHandler on_frame, CloseHandler on_close) {
  on_frame_ = std::move(on_frame);
  on_close_ = std::move(on_close);
  DoRead();
}

bool FrameConnection::Send(const RpcFrame& frame) {
  if (closed_) return false;
  if (!EncodeFrame(frame, &outbox_)) {
    LOG(WARNING) << "RPC frame to " << peer_ << " over the size limit, not sent";
    return false;
  }
  if (outbox_.size() + in_flight_.size() > kMaxQueuedBytes) {
    // Closed at once; the owner hears of it from the I/O context, not inside this call.
    CloseHandler on_close = std::move(on_close_);
    Close();
    if (on_close) {
      boost::asio::post(socket_.get_executor(), [on_close = std::move(on_close)] {
        on_close("peer does not read: over " + std::to_string(kMaxQueuedBytes) +
                 " bytes queued");
      });
    }
    return false;
  }
  if (!writing_) DoWrite();
  return true;
}

void FrameConnection::Close() {
  if (closed_) return;
  // The handlers stay in place (one of them may be running); closed_ keeps them from being
  // called again.
  closed_ = true;
  boost::system::error_code ignored;
  socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  outbox_.clear();
}

void FrameConnection::Fail(const std::string& reason) {
  if (closed_) return;
  CloseHandler on_close = std::move(on_close_);
  Close();
  if (on_close) on_close(reason);
}

void FrameConnection::DoRead() {
  socket_.async_read_some(
      boost::asio::buffer(read_chunk_),
      [self = shared_from_this()](const boost::system::error_code& ec, size_t n) {
        self->OnRead(ec, n);
      });
}

void FrameConnection::OnRead(const boost::system::error_code& ec, size_t n) {
  if (closed_) return;
  if (ec) {
    if (ec == boost::asio::error::eof && !inbox_.empty()) {
      Fail("peer closed in the middle of a frame (" + std::to_string(inbox_.size()) +
           " bytes pending)");
    } else {
      Fail(ec == boost::asio::error::eof ? kPeerClosed : ec.message());
    }
    return;
  }
  inbox_.append(read_chunk_.data(), n);
  std::string_view input(inbox_);
  // Keep a reference: a handler may close the connection and drop its owner's reference.
  auto self = shared_from_this();
  while (!closed_) {
    RpcFrame frame;
    FrameDecodeStatus status = DecodeFrame(&input, &frame);
    if (status == FrameDecodeStatus::kNeedMore) break;
    if (status == FrameDecodeStatus::kTooLarge) {
      Fail("frame length prefix over the limit of " + std::to_string(kMaxFrameBytes) + " bytes");
      return;
    }
    if (status == FrameDecodeStatus::kMalformed) {
      Fail("malformed frame");
      return;
    }
    on_frame_(std::move(frame));
  }
  if (closed_) return;
  inbox_.erase(0, inbox_.size() - input.size());
  DoRead();
}

void FrameConnection::DoWrite() {
  in_flight_.swap(outbox_);
  outbox_.clear();
  writing_ = true;
  boost::asio::async_write(
      socket_, boost::asio::buffer(in_flight_),
      [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
        self->OnWrite(ec);
      });
}

void FrameConnection::OnWrite(const boost::system::error_code& ec) {
  writing_ = false;
  in_flight_.clear();
  if (closed_) return;
  if (ec) {
    Fail("write failed: " + ec.message());
    return;
  }
  if (!outbox_.empty()) DoWrite();
}

bool FramePeer::Send(const RpcFrame& frame) const {
  auto conn = conn_.lock();
  return conn && conn->Send(frame);
}

void FramePeer::Close() const {
  if (auto conn = conn_.lock()) conn->Close();
}

}  // namespace kyv
