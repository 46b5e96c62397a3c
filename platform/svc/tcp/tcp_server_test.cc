// A TcpServer fed raw bytes by plain sockets: bad input is answered with an error or closes
// that connection, and the server goes on serving.
#include "platform/svc/tcp/tcp_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include <cerrno>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/svc/tcp/frame_codec.h"
#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/testing/echo_service_impl.h"

namespace {

using kyv::RpcFrame;

// The server and its service on an I/O context of their own thread.
class ServerThread {
 public:
  ServerThread() {
    processor_.register_service(&service_);
    server_ = std::make_unique<TcpServer>(io_, 0, &processor_);
    started_ = server_->start_server();
    port_ = server_->port();
    thread_ = std::thread([this] { io_.run(); });
  }
  ~ServerThread() {
    RunOnServer([this] { server_.reset(); });
    work_.reset();
    io_.stop();
    thread_.join();
  }

  // Runs `fn` on the server's thread and waits for it.
  void RunOnServer(const std::function<void()>& fn) {
    std::promise<void> ran;
    boost::asio::post(io_, [&] {
      fn();
      ran.set_value();
    });
    ran.get_future().wait();
  }

  bool started() const { return started_; }
  uint16_t port() const { return port_; }
  kyv::testing::EchoServiceImpl& service() { return service_; }

 private:
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_ =
      boost::asio::make_work_guard(io_);
  kyv::testing::EchoServiceImpl service_;
  TcpRpcReqProcessor processor_;
  std::unique_ptr<TcpServer> server_;
  bool started_ = false;
  uint16_t port_ = 0;
  std::thread thread_;
};

// A blocking client socket whose reads give up after a few seconds instead of hanging.
class RawConn {
 public:
  enum Result { kFrame, kClosed, kTimeout };

  explicit RawConn(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  }
  ~RawConn() { ::close(fd_); }

  bool connected() const { return connected_; }
  bool Write(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  void ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

  Result ReadFrame(RpcFrame* frame) {
    std::string header;
    Result r = ReadExactly(kyv::kFrameHeaderBytes, &header);
    if (r != kFrame) return r;
    const auto* p = reinterpret_cast<const unsigned char*>(header.data());
    const size_t size = (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | p[3];
    std::string body;
    r = ReadExactly(size, &body);
    if (r != kFrame) return r;
    return frame->ParseFromString(body) ? kFrame : kClosed;
  }

 private:
  Result ReadExactly(size_t n, std::string* out) {
    out->resize(n);
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::recv(fd_, &(*out)[got], n - got, 0);
      if (r > 0) {
        got += static_cast<size_t>(r);
      } else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return kTimeout;
      } else if (r < 0 && errno == EINTR) {
        continue;
      } else {
        return kClosed;  // orderly close or reset
      }
    }
    return kFrame;
  }

  int fd_ = -1;
  bool connected_ = false;
};

std::string Header(uint32_t size) {
  std::string h(4, '\0');
  h[0] = static_cast<char>(size >> 24);
  h[1] = static_cast<char>(size >> 16);
  h[2] = static_cast<char>(size >> 8);
  h[3] = static_cast<char>(size);
  return h;
}

RpcFrame Request(uint64_t id, const std::string& service, int method, const std::string& payload,
                 RpcFrame::Kind kind = RpcFrame::REQUEST) {
  RpcFrame frame;
  frame.set_call_id(id);
  frame.set_kind(kind);
  frame.set_service(service);
  frame.set_method_index(method);
  frame.set_payload(payload);
  return frame;
}

std::string Encode(const RpcFrame& frame) {
  std::string wire;
  kyv::EncodeFrame(frame, &wire);
  return wire;
}

std::string EchoPayload(const std::string& text) {
  kyv::testing::EchoRequest request;
  request.set_text(text);
  return request.SerializeAsString();
}

const std::string kEcho = "kyv.testing.EchoService";

// Sends a good request on `conn` and expects its answer.
void ExpectServed(RawConn& conn, uint64_t id) {
  ASSERT_TRUE(conn.Write(Encode(Request(id, kEcho, 0, EchoPayload("ok")))));
  RpcFrame answer;
  ASSERT_EQ(conn.ReadFrame(&answer), RawConn::kFrame);
  EXPECT_EQ(answer.kind(), RpcFrame::RESPONSE);
  EXPECT_EQ(answer.call_id(), id);
  EXPECT_EQ(answer.status(), 0);
  kyv::testing::EchoResponse response;
  ASSERT_TRUE(response.ParseFromString(answer.payload()));
  EXPECT_EQ(response.text(), "ok");
}

class TcpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.started()); }
  ServerThread server_;
};

TEST_F(TcpServerTest, BadInputGetsAnErrorOrClosesAndOthersAreStillServed) {
  enum Want { kErrorAnswer, kClose };
  struct Case {
    const char* name;
    std::string bytes;
    bool close_after_write;
    Want want;
  };
  const Case cases[] = {
      {"truncated frame, then the peer closes", Header(100) + "abc", true, kClose},
      {"largest length prefix", Header(0xffffffffu), false, kClose},
      {"length prefix just over the limit", Header(kyv::kMaxFrameBytes + 1), false, kClose},
      {"text protocol", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", false, kClose},
      {"garbage frame body", Header(6) + std::string(6, '\xff'), false, kClose},
      {"response sent to a server", Encode(Request(7, kEcho, 0, "", RpcFrame::RESPONSE)), false,
       kClose},
      {"unknown service", Encode(Request(7, "NoSuchService", 0, "")), false, kErrorAnswer},
      {"unknown method index", Encode(Request(7, kEcho, 99, "")), false, kErrorAnswer},
      {"negative method index", Encode(Request(7, kEcho, -1, "")), false, kErrorAnswer},
      {"unparsable payload", Encode(Request(7, kEcho, 0, "\xff\xff\xff")), false, kErrorAnswer},
      {"payload missing a required field", Encode(Request(7, kEcho, 2, "")), false,
       kErrorAnswer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawConn conn(server_.port());
    ASSERT_TRUE(conn.connected());
    ASSERT_TRUE(conn.Write(c.bytes));
    if (c.close_after_write) conn.ShutdownWrite();
    RpcFrame answer;
    if (c.want == kClose) {
      EXPECT_EQ(conn.ReadFrame(&answer), RawConn::kClosed);
    } else {
      ASSERT_EQ(conn.ReadFrame(&answer), RawConn::kFrame);
      EXPECT_EQ(answer.call_id(), 7u);
      EXPECT_EQ(answer.kind(), RpcFrame::RESPONSE);
      EXPECT_EQ(answer.status(), SYSERR_RPC_BAD_REQUEST);
      EXPECT_FALSE(answer.error_text().empty());
      ExpectServed(conn, 8);  // the same connection goes on
    }
    RawConn other(server_.port());
    ExpectServed(other, 9);
  }
}

TEST_F(TcpServerTest, FaultyOneWayFramesAreDroppedWithoutAnswer) {
  RawConn conn(server_.port());
  const RpcFrame faulty[] = {
      Request(0, "NoSuchService", 0, "", RpcFrame::ONE_WAY),
      Request(0, kEcho, 42, "", RpcFrame::ONE_WAY),
      Request(0, kEcho, 1, "\xff\xff", RpcFrame::ONE_WAY),
  };
  for (const RpcFrame& frame : faulty) ASSERT_TRUE(conn.Write(Encode(frame)));
  ASSERT_TRUE(conn.Write(Encode(Request(0, kEcho, 1, EchoPayload("note"), RpcFrame::ONE_WAY))));
  // The first frame back answers this request: nothing was sent for the one-way frames.
  ExpectServed(conn, 11);
  server_.RunOnServer([&] { EXPECT_EQ(server_.service().notify_calls, 1); });
}

TEST_F(TcpServerTest, AnswerToAPeerThatLeftIsDropped) {
  {
    RawConn conn(server_.port());
    ASSERT_TRUE(conn.Write(Encode(Request(1, kEcho, 0, EchoPayload("hold")))));
    RawConn probe(server_.port());
    ExpectServed(probe, 2);  // the held call has been read by now
  }
  server_.RunOnServer([&] {
    ASSERT_EQ(server_.service().held.size(), 1u);
    server_.service().CompleteHeld();
  });
  RawConn after(server_.port());
  ExpectServed(after, 3);
}

TEST_F(TcpServerTest, ServesManyConnectionsAtOnce) {
  std::vector<std::unique_ptr<RawConn>> conns;
  for (int i = 0; i < 20; ++i) {
    conns.push_back(std::make_unique<RawConn>(server_.port()));
    ASSERT_TRUE(conns.back()->Write(Encode(Request(100 + i, kEcho, 0, EchoPayload("ok")))));
  }
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    RpcFrame answer;
    ASSERT_EQ(conns[i]->ReadFrame(&answer), RawConn::kFrame);
    EXPECT_EQ(answer.call_id(), 100u + i);
  }
}

TEST(TcpServerStartTest, ReportsAPortThatCannotBeBound) {
  boost::asio::io_context io;
  TcpRpcReqProcessor processor;
  TcpServer first(io, 0, &processor);
  ASSERT_TRUE(first.start_server());
  TcpServer second(io, first.port(), &processor);
  EXPECT_FALSE(second.start_server());
  TcpServer bad_address(io, 0, &processor, "not-an-address");
  EXPECT_FALSE(bad_address.start_server());
  EXPECT_FALSE(first.start_server());  // already started
}

}  // namespace
