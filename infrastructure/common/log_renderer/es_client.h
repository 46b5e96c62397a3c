// HTTP client of the local search index's bulk endpoint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

typedef void CURL;

namespace kyv::infra::log {

// Outcome of one POST.
struct HttpResult {
  bool transport_ok = false;  // false: no HTTP answer (see `error`)
  long status = 0;            // HTTP status of the answer
  std::string body;
  std::string error;
};

// One reused libcurl easy handle. Not thread-safe: the module runs one request at a time under
// the interpreter lock.
class EsClient {
 public:
  // `buffer_size` is the capacity reserved for answer bodies.
  EsClient(std::string host, uint16_t port, size_t buffer_size);
  ~EsClient();
  EsClient(const EsClient&) = delete;
  EsClient& operator=(const EsClient&) = delete;

  // POSTs `size` bytes to http://<host>:<port>/_bulk and collects the answer. No extra headers
  // are set. The handle is reset to its defaults afterwards. Gives up when the connection cannot
  // be made within 10 s, or when the transfer stalls (under 1 byte/s for 60 s).
  HttpResult PostBulk(const char* data, size_t size);

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

 private:
  std::string host_;
  uint16_t port_;
  size_t buffer_size_;
  CURL* handle_;
};

}  // namespace kyv::infra::log
