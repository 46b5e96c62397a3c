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
    WriteSideFiles();
    IndexWorker::LoadModule();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    std::system(("rm -rf '" + side_dir_ + "'").c_str());
  }

  // The side files of the derived fields: one IP address group of tenant "t1", whose virtual
  // service is "vs-1", one cipher, the real user agent patterns; no country database.
  static void WriteSideFiles() {
    std::string tmpl = ::testing::TempDir() + "index_worker_side_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    side_dir_ = tmpl;
    IpAddrGroup group;
    group.set_uuid("g-1");
    group.set_name("branch-office");
    group.set_tenant_uuid("t1");
    IpAddrRange* range = group.add_ranges();
    range->mutable_begin()->set_addr("10.8.0.0");
    range->mutable_end()->set_addr("10.8.0.255");
    std::ofstream(side_dir_ + "/groups", std::ios::binary) << Record(group.SerializeAsString());
    std::ofstream(side_dir_ + "/tenants") << "vs-1,t1\n";
    std::ofstream(side_dir_ + "/ciphers")
        << "AES128-SHA SSLv3 Kx=RSA Au=RSA Enc=AES(128) Mac=SHA1\n";
    setenv("KYV_TRAILSIFT_IP_GROUPS", (side_dir_ + "/groups").c_str(), 1);
    setenv("KYV_TRAILSIFT_TENANT_MAP", (side_dir_ + "/tenants").c_str(), 1);
    setenv("KYV_TRAILSIFT_CIPHERS", (side_dir_ + "/ciphers").c_str(), 1);
    setenv("KYV_TRAILSIFT_GEOIP_DB", (side_dir_ + "/GeoIP.dat").c_str(), 1);
    setenv("KYV_TRAILSIFT_REGEXES", KYV_UAP_REGEXES, 1);
  }

  std::string WriteFile(const std::string& data) {
    // Test cases may run side by side in separate processes: one file per case and process.
    const std::string path = ::testing::TempDir() + "index_worker_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             "_" + std::to_string(getpid()) + "_" +
                             std::to_string(paths_.size()) + ".log";
    paths_.push_back(path);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    return path;
  }

  void TearDown() override {
    for (const std::string& path : paths_) std::remove(path.c_str());
  }

  static BulkServer* server_;
  static std::string side_dir_;
  std::vector<std::string> paths_;
};

BulkServer* IndexWorkerTest::server_ = nullptr;
std::string IndexWorkerTest::side_dir_;

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

TEST_F(IndexWorkerTest, DerivedFieldsReachTheDocuments) {
  LogMessage app_msg;
  ApplicationLog* app = app_msg.add_applogs();
  app->set_virtualservice("vs-1");
  app->set_client_ip(0x0A080005);  // 10.8.0.5
  app->set_user_agent("Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0");
  app->set_server_response_time_first_byte(100);
  app->set_response_time_last_byte(250);
  app->mutable_waf_log()->set_latency_request_body_phase(1501);
  app->add_significant_log(FILTER_WAF_MATCH);
  app->add_significant_log(FILTER_HTTP2_PROTOCOL_ERROR);
  app->set_ssl_cipher("AES128-SHA");
  app->set_cipher_bytes(std::string("\x00\x2f\xab\xcd\x01", 5));
  app->set_grpc_status(5);
  LogMessage other = app_msg;
  other.mutable_applogs(0)->set_client_ip(0x0A090005);  // in no group, no country database
  const std::string app_path = WriteFile(Record(app_msg.SerializeAsString()) +
                                         Record(other.SerializeAsString()));

  LogMessage event_msg;
  EventLog* event = event_msg.add_eventlogs();
  event->set_event_id(POOL_DOWN);
  event->set_obj_uuid("pool-42");
  event->mutable_event_details()->mutable_pool_state_details()->set_pool("p1");
  const std::string event_path = WriteFile(Record(event_msg.SerializeAsString()));

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(IndexWorker(app_path, 0, "idx", "app_log", 100).run().total, 2u);
  EXPECT_EQ(IndexWorker(event_path, 0, "idx", "event_log", 100).run().total, 1u);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error opening GeoIP DB" + side_dir_ + "/GeoIP.dat\n"), std::string::npos)
      << err;

  const std::vector<std::string> bodies = server_->TakeBodies();
  ASSERT_EQ(bodies.size(), 2u);
  for (const char* text :
       {"\"client_location\":\"branch-office\"", "\"client_location\":\"Unknown\"",
        "\"client_device\":\"Other\",\"client_browser\":\"Firefox\",\"client_os\":\"Linux\"",
        "\"app_response_time\":100,\"response_time_last_byte\":250,\"data_transfer_time\":148,"
        "\"total_time\":250",
        "\"significance\":\"Firewall rule match, 114\"",
        "\"ssl_cipher\":\"AES128-SHA kx:RSA auth:RSA enc:AES128 mac:SHA1 PFS:False\"",
        "\"client_cipher_list\":{\"identified_ciphers\":[\"TLS_RSA_WITH_AES_128_CBC_SHA\"],"
        "\"unidentified_ciphers\":[\"abcd\"]}",
        "\"grpc_status_reason_phrase\":\"GRPC_STATUS_CODE_NOT_FOUND\""}) {
    EXPECT_NE(bodies[0].find(text), std::string::npos) << text;
  }
  EXPECT_EQ(bodies[0].find("cipher_bytes"), std::string::npos);
  for (const char* text : {"\"event_description\":\"Pool p1 is down\"",
                           "\"context\":\"EVENT_CONTEXT_APP\""}) {
    EXPECT_NE(bodies[1].find(text), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace kyv::infra::log
