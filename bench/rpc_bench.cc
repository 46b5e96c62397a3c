// Round trips per second of TCP RPC on loopback with small messages: one client, calls made
// strictly one after the other or with a window of N outstanding, with the server on the
// client's I/O context or on its own thread.
//
// Usage: rpc_bench [calls per case]   (default 50000)
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/service.h>
#include <google/protobuf/stubs/callback.h>
#include <google/protobuf/text_format.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_client_rpc_controller.h"
#include "platform/svc/tcp/tcp_rpc_channel.h"
#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"
#include "platform/svc/tcp/tcp_server.h"

namespace {

// The benchmark's service is built at run time, so that it needs no generated code.
constexpr char kBenchProto[] = R"pb(
  name: "rpc_bench.proto"
  package: "kyv.bench"
  message_type {
    name: "Ping"
    field { name: "text" number: 1 label: LABEL_OPTIONAL type: TYPE_STRING }
    field { name: "value" number: 2 label: LABEL_OPTIONAL type: TYPE_INT32 }
  }
  service {
    name: "BenchService"
    method { name: "Echo" input_type: ".kyv.bench.Ping" output_type: ".kyv.bench.Ping" }
  }
)pb";

// The descriptors and message factory of the benchmark's service.
class BenchSchema {
 public:
  BenchSchema() {
    google::protobuf::FileDescriptorProto file;
    if (!google::protobuf::TextFormat::ParseFromString(kBenchProto, &file) ||
        !(file_ = pool_.BuildFile(file))) {
      std::fprintf(stderr, "cannot build the benchmark's service\n");
      std::exit(1);
    }
  }
  const google::protobuf::ServiceDescriptor* service() const { return file_->service(0); }
  const google::protobuf::MethodDescriptor* echo() const { return service()->method(0); }
  const google::protobuf::Message& Prototype(const google::protobuf::Descriptor* type) {
    return *factory_.GetPrototype(type);
  }

 private:
  google::protobuf::DescriptorPool pool_;
  const google::protobuf::FileDescriptor* file_ = nullptr;
  google::protobuf::DynamicMessageFactory factory_{&pool_};
};

// Answers each Ping with a copy of it.
class BenchService : public google::protobuf::Service {
 public:
  explicit BenchService(BenchSchema* schema) : schema_(schema) {}
  const google::protobuf::ServiceDescriptor* GetDescriptor() override { return schema_->service(); }
  void CallMethod(const google::protobuf::MethodDescriptor*, google::protobuf::RpcController*,
                  const google::protobuf::Message* request, google::protobuf::Message* response,
                  google::protobuf::Closure* done) override {
    response->CopyFrom(*request);
    done->Run();
  }
  const google::protobuf::Message& GetRequestPrototype(
      const google::protobuf::MethodDescriptor* method) const override {
    return schema_->Prototype(method->input_type());
  }
  const google::protobuf::Message& GetResponsePrototype(
      const google::protobuf::MethodDescriptor* method) const override {
    return schema_->Prototype(method->output_type());
  }

 private:
  BenchSchema* schema_;
};

struct Result {
  long completed = 0;
  long failed = 0;
  double seconds = 0;
};

// The server side: on the client's context, or on a context and thread of its own.
class ServerSide {
 public:
  ServerSide(BenchSchema* schema, boost::asio::io_context& client_io, bool own_thread)
      : io_(own_thread ? own_io_.emplace() : client_io), service_(schema) {
    processor_.register_service(&service_);
    server_ = std::make_unique<TcpServer>(io_, 0, &processor_);
    server_->start_server();
    if (own_thread) {
      work_.emplace(boost::asio::make_work_guard(io_));
      thread_ = std::thread([this] { io_.run(); });
    }
  }
  ~ServerSide() {
    if (thread_.joinable()) {
      std::promise<void> stopped;
      boost::asio::post(io_, [&] {
        server_.reset();
        stopped.set_value();
      });
      stopped.get_future().wait();
      work_.reset();
      thread_.join();
    }
  }
  uint16_t port() const { return server_->port(); }

 private:
  std::optional<boost::asio::io_context> own_io_;
  boost::asio::io_context& io_;
  BenchService service_;
  TcpRpcReqProcessor processor_;
  std::unique_ptr<TcpServer> server_;
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
  std::thread thread_;
};

// Keeps `window` calls outstanding until `total` have completed.
class Driver {
 public:
  Driver(BenchSchema* schema, TcpRpcChannel* channel, boost::asio::io_context& io, long total,
         int window)
      : schema_(schema), channel_(channel), io_(io), total_(total) {
    for (int i = 0; i < window; ++i) slots_.push_back(std::make_unique<Slot>(schema));
  }

  Result Run() {
    const auto start = std::chrono::steady_clock::now();
    for (auto& slot : slots_) Issue(slot.get());
    // Bounded: a broken link ends the run through failures, a stuck one through this limit.
    boost::asio::steady_timer limit(io_, std::chrono::seconds(120));
    limit.async_wait([this](const boost::system::error_code& ec) {
      if (!ec) io_.stop();
    });
    io_.restart();
    io_.run();
    result_.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result_;
  }

 private:
  struct Slot {
    explicit Slot(BenchSchema* schema)
        : request(schema->Prototype(schema->echo()->input_type()).New()),
          response(schema->Prototype(schema->echo()->output_type()).New()) {
      const auto* text = request->GetDescriptor()->FindFieldByName("text");
      request->GetReflection()->SetString(request.get(), text, "ping");
    }
    TcpClientRpcController controller{nullptr, 1200};
    std::unique_ptr<google::protobuf::Message> request;
    std::unique_ptr<google::protobuf::Message> response;
  };

  void Issue(Slot* slot) {
    ++issued_;
    slot->controller.Reset();
    channel_->CallMethod(schema_->echo(), &slot->controller, slot->request.get(),
                         slot->response.get(),
                         google::protobuf::NewCallback(this, &Driver::Done, slot));
  }

  void Done(Slot* slot) {
    ++result_.completed;
    if (slot->controller.Failed()) ++result_.failed;
    if (issued_ < total_) {
      Issue(slot);
    } else if (result_.completed == total_) {
      io_.stop();
    }
  }

  BenchSchema* schema_;
  TcpRpcChannel* channel_;
  boost::asio::io_context& io_;
  long total_;
  long issued_ = 0;
  std::vector<std::unique_ptr<Slot>> slots_;
  Result result_;
};

Result RunCase(BenchSchema* schema, bool server_thread, int window, long calls) {
  boost::asio::io_context io;
  ServerSide server(schema, io, server_thread);
  TcpRpcRespProcessor processor;
  auto client = std::make_shared<TcpClient>(io, "127.0.0.1", std::to_string(server.port()),
                                            &processor, "");
  bool settled = false;
  boost::asio::ip::tcp::resolver resolver(io);
  client->start(resolver.resolve("127.0.0.1", std::to_string(server.port())),
                [&](TcpClient*) { settled = true; }, [&](TcpClient*) { settled = true; });
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!settled && std::chrono::steady_clock::now() < give_up) {
    io.run_one_for(std::chrono::milliseconds(100));
  }
  if (!client->connected()) {
    std::fprintf(stderr, "could not connect to the benchmark server\n");
    std::exit(1);
  }
  TcpRpcChannel channel(client.get());
  Driver driver(schema, &channel, io, calls, window);
  Result result = driver.Run();
  client->stop();
  return result;
}

// What the machine itself allows: a 32-byte ping-pong between two threads over loopback with
// blocking sockets and no framework at all.
double RawPingPongPerSecond(long calls) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(listener);
    return 0;
  }
  const int one = 1;
  std::thread echo([&] {
    int s = ::accept(listener, nullptr, nullptr);
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    char buf[32];
    while (::recv(s, buf, sizeof(buf), MSG_WAITALL) == sizeof(buf)) ::send(s, buf, sizeof(buf), 0);
    ::close(s);
  });
  int c = ::socket(AF_INET, SOCK_STREAM, 0);
  double rate = 0;
  if (::connect(c, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    char buf[32] = {0};
    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    while (done < calls && ::send(c, buf, sizeof(buf), 0) == sizeof(buf) &&
           ::recv(c, buf, sizeof(buf), MSG_WAITALL) == sizeof(buf)) {
      ++done;
    }
    rate = done / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  ::shutdown(c, SHUT_RDWR);
  ::close(c);
  echo.join();
  ::close(listener);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  const long calls = argc > 1 ? std::atol(argv[1]) : 50000;
  if (calls <= 0) {
    std::fprintf(stderr, "usage: %s [calls per case]\n", argv[0]);
    return 2;
  }
  std::printf("TCP RPC on loopback, small messages, %ld calls per case\n", calls);
  std::printf("%-28s %8s %10s %9s %14s\n", "server", "window", "calls", "seconds",
              "round trips/s");
  BenchSchema schema;
  bool all_ok = true;
  for (bool server_thread : {false, true}) {
    for (int window : {1, 8, 64}) {
      Result r = RunCase(&schema, server_thread, window, calls);
      all_ok &= r.failed == 0 && r.completed == calls;
      std::printf("%-28s %8d %10ld %9.3f %14.0f%s\n",
                  server_thread ? "own thread" : "client's I/O context", window, r.completed,
                  r.seconds, r.completed / r.seconds,
                  r.failed ? (" (" + std::to_string(r.failed) + " failed)").c_str() : "");
    }
  }
  std::printf("baseline: raw blocking-socket ping-pong between two threads: %.0f round trips/s\n",
              RawPingPongPerSecond(calls));
  return all_ok ? 0 : 1;
}
