// The indexing loop end to end against a loopback bulk endpoint, so that reading, rendering,
// posting and the undo paths run under the sanitizers too (the Python suite covers the details).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "infrastructure/common/log_renderer/trailsift.h"
#include "proto/events.pb.h"

namespace kyv::infra::log {
namespace {

// Answers every POST with one item of status 201 per document; keeps the bodies.
class BulkServer {
 public:
  BulkServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      std::abort();
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~BulkServer() {
    // The client keeps its connection open: end it too, or the server waits on it for ever.
    shutdown(fd_, SHUT_RDWR);
    const int client = client_.load();
    if (client >= 0) shutdown(client, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }

  uint16_t port() const { return port_; }
  std::vector<std::string> TakeBodies() {
    std::lock_guard<std::mutex> lock(mu_);
    return std::exchange(bodies_, {});
  }

 private:
  void Serve() {
    for (;;) {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      client_ = c;
      while (HandleRequest(c)) {
      }
      client_ = -1;
      close(c);
    }
  }

  // One request on connection `c`; false when the connection is done.
  bool HandleRequest(int c) {
    std::string data;
    char buf[65536];
    size_t header_end;
    while ((header_end = data.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t n = read(c, buf, sizeof(buf));
      if (n <= 0) return false;
      data.append(buf, static_cast<size_t>(n));
    }
    std::string headers = data.substr(0, header_end);
    for (char& ch : headers) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const size_t cl = headers.find("content-length:");
    const size_t length = cl == std::string::npos ? 0 : std::stoul(headers.substr(cl + 15));
    if (headers.find("expect: 100-continue") != std::string::npos) {
      const std::string cont = "HTTP/1.1 100 Continue\r\n\r\n";
      if (write(c, cont.data(), cont.size()) < 0) return false;
    }
    std::string body = data.substr(header_end + 4);
    while (body.size() < length) {
      const ssize_t n = read(c, buf, sizeof(buf));
      if (n <= 0) return false;
      body.append(buf, static_cast<size_t>(n));
    }
    size_t lines = 0;
    for (char ch : body) lines += ch == '\n';
    std::string answer = "{\"errors\":false,\"items\":[";
    for (size_t i = 0; i < lines / 2; ++i) {
      answer += (i ? "," : "") + std::string("{\"index\":{\"status\":201}}");
    }
    answer += "]}";
    {
      std::lock_guard<std::mutex> lock(mu_);
      bodies_.push_back(std::move(body));
    }
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                 "Content-Length: " + std::to_string(answer.size()) +
                                 "\r\n\r\n" + answer;
    return write(c, response.data(), response.size()) == static_cast<ssize_t>(response.size());
  }

  int fd_;
  std::atomic<int> client_{-1};
  uint16_t port_;
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::string> bodies_;
};

std::string Record(const std::string& bytes) {
  const uint32_t n = static_cast<uint32_t>(bytes.size());
  return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                     static_cast<char>(n >> 8), static_cast<char>(n)} + bytes;
}

std::string AppRecord(uint32_t log_id) {
  LogMessage msg;
  ApplicationLog* log = msg.add_applogs();
  log->set_report_timestamp(uint64_t{100 + log_id} << 32);
  log->set_log_id(log_id);
  log->set_service_engine("se-1");
  return Record(msg.SerializeAsString());
}

class IndexWorkerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new BulkServer();
    setenv("KYV_TRAILSIFT_BULK_PORT", std::to_string(server_->port()).c_str(), 1);
    setenv("KYV_TRAILSIFT_IP_GROUPS", "/nonexistent/ip_groups", 1);
    IndexWorker::LoadModule();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  std::string WriteFile(const std::string& data) {
    // Test cases may run side by side in separate processes: one file per case and process.
    const std::string path = ::testing::TempDir() + "index_worker_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             "_" + std::to_string(getpid()) + ".log";
    paths_.push_back(path);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    return path;
  }

  void TearDown() override {
    for (const std::string& path : paths_) std::remove(path.c_str());
  }

  static BulkServer* server_;
  std::vector<std::string> paths_;
};

BulkServer* IndexWorkerTest::server_ = nullptr;

TEST_F(IndexWorkerTest, BadRecordsEndBatchesAndACutRecordEndsTheRun) {
  std::string data = AppRecord(1) + AppRecord(2) + Record("") + AppRecord(3) +
                     Record("\xff\xff\xff") + AppRecord(4);
  const uint32_t cut_at = static_cast<uint32_t>(data.size());
  data += AppRecord(5).substr(0, 9);
  const std::string path = WriteFile(data);

  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  IndexWorker worker(path, 0, "idx", "app_log", 100);
  const IndexRet ret = worker.run();
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(ret.total, 4u);
  EXPECT_EQ(ret.read_pos, cut_at);
  EXPECT_EQ(ret.min_ts, uint64_t{101} << 32);
  EXPECT_EQ(ret.max_ts, uint64_t{104} << 32);
  EXPECT_EQ(server_->TakeBodies().size(), 3u);
}

TEST_F(IndexWorkerTest, EventsAreEnrichedAndARaisingRecordIsUndone) {
  LogMessage msg;
  msg.set_tenant("t1");
  EventLog* event = msg.add_eventlogs();
  event->set_event_id(SE_GROUP_HOST_DEL);
  event->set_report_timestamp(uint64_t{1000} << 32);
  event->mutable_event_details()->mutable_se_discontinuous_time_change_event_details()
      ->set_drift_time(2500000);
  const std::string first = Record(msg.SerializeAsString());
  const std::string path = WriteFile(first + first);

  IndexWorker::shared().render_fault = {true, static_cast<uint32_t>(first.size()), false};
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  IndexWorker worker(path, 0, "idx", "event_log", 100);
  const IndexRet ret = worker.run();
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  IndexWorker::shared().render_fault = {};

  EXPECT_EQ(ret.total, 1u);
  EXPECT_EQ(ret.read_pos, first.size());
  EXPECT_EQ(ret.max_ts, uint64_t{998} << 32);
  const std::vector<std::string> bodies = server_->TakeBodies();
  ASSERT_EQ(bodies.size(), 1u);
  for (const char* text : {"\"tenant\":\"t1\"", "\"internal\":\"EVENT_EXTERNAL\"",
                           "\"event_pages\":[\"EVENT_PAGE_SE\",\"EVENT_PAGE_CNTLR\",\"EVENT_PAGE_ALL\"]",
                           "\"stime\":"}) {
    EXPECT_NE(bodies[0].find(text), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace kyv::infra::log
