#include "infrastructure/common/log_renderer/es_client.h"

#include <curl/curl.h>

namespace kyv::infra::log {

namespace {

// Answers above this size are refused (the transfer fails) rather than held in memory.
constexpr size_t kMaxAnswerBytes = 256u << 20;

size_t AppendAnswer(char* data, size_t size, size_t nmemb, void* user) {
  auto* body = static_cast<std::string*>(user);
  const size_t n = size * nmemb;
  if (body->size() + n > kMaxAnswerBytes) return 0;
  body->append(data, n);
  return n;
}

}  // namespace

EsClient::EsClient(std::string host, uint16_t port, size_t buffer_size)
    : host_(std::move(host)), port_(port), buffer_size_(buffer_size), handle_(curl_easy_init()) {}

EsClient::~EsClient() {
  if (handle_ != nullptr) curl_easy_cleanup(handle_);
}

HttpResult EsClient::PostBulk(const char* data, size_t size) {
  HttpResult result;
  if (handle_ == nullptr) {
    handle_ = curl_easy_init();
    if (handle_ == nullptr) {
      result.error = "cannot create an HTTP handle";
      return result;
    }
  }
  result.body.reserve(buffer_size_);
  const std::string url = "http://" + host_ + "/_bulk";
  curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle_, CURLOPT_PORT, static_cast<long>(port_));
  curl_easy_setopt(handle_, CURLOPT_POST, 1L);
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, data);
  curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
  curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &AppendAnswer);
  curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle_, CURLOPT_NOPROXY, "*");  // the endpoint is local
  curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, 60L);

  const CURLcode code = curl_easy_perform(handle_);
  if (code == CURLE_OK) {
    result.transport_ok = true;
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &result.status);
  } else {
    result.error = curl_easy_strerror(code);
  }
  curl_easy_reset(handle_);
  return result;
}

}  // namespace kyv::infra::log
