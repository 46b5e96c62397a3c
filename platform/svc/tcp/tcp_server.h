// The server end of TCP RPC links.
#pragma once

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/svc/tcp/tcp_processor.h"

namespace kyv {
class TcpServerCore;
}

// Accepts connections on a port and hands every frame read from them to a TcpReqProcessor.
// A connection that sends a frame over the size limit, bytes that are not a frame, or a frame
// that breaks the protocol is closed with a log line; the others are served on. Used on the
// thread that runs its I/O context.
class TcpServer {
 public:
  // `processor` is not owned and must outlive the server. Port 0 picks a free port when
  // started. The server listens on `bind_address` only.
  TcpServer(boost::asio::io_context& io, uint16_t port, TcpReqProcessor* processor,
            const std::string& bind_address = "127.0.0.1");
  // Stops like stop().
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Binds and starts accepting. `strand` is accepted for compatibility and ignored: every
  // handler runs on the I/O context. False, with a log line, if the address cannot be bound
  // or the server is already started.
  bool start_server(void* strand = nullptr);
  // The bound port (the one picked when constructed with 0); 0 before start_server.
  uint16_t port() const;
  // Stops accepting and closes every connection. Answers of calls still being served are
  // dropped. The server may not be started again.
  void stop();
  // Connections currently open.
  size_t connection_count() const;

 private:
  std::shared_ptr<kyv::TcpServerCore> core_;
};
