#include "infrastructure/common/log_renderer/trailsift.h"

#include <curl/curl.h>
#include <fmt/format.h>
#include <sys/stat.h>

#include "controller/metrics_manager/metrics_common.h"
#include "infrastructure/common/log_renderer/doc_id.h"
#include "infrastructure/common/log_renderer/ip_group_file.h"
#include "platform/log_renderer/elastic_search_writer.h"

namespace kyv::infra::log {

namespace {

// Capacity of the HTTP answer buffer.
constexpr size_t kAnswerBufferSize = 65536;

SharedState* g_shared = nullptr;

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  ElasticSearchWriter::AppendEscaped(&out, text);
  out.push_back('"');
  return out;
}

LogKind KindOf(const std::string& doc_type) {
  if (doc_type == "conn_log") return LogKind::kConnection;
  if (doc_type == "app_log") return LogKind::kApplication;
  return LogKind::kEvent;
}

}  // namespace

SharedState::SharedState(ModuleSettings s)
    : settings(std::move(s)),
      ua_parser_(settings.regexes_file),
      es_client_(settings.bulk_host, settings.bulk_port, kAnswerBufferSize),
      gi_(settings.geoip_db),
      vs_tenant_map_(settings.vs_tenant_map),
      cipher_props_(settings.cipher_file) {}

void IndexWorker::LoadModule() {
  if (g_shared != nullptr) return;
  // Flags are registered by metrics_common when the module's code is loaded; the event templates
  // are constants of event_desc_func. SharedState builds the user agent parser first, then the
  // empty tables and the HTTP client.
  (void)FLAGS_logging_freq;
  // Kept for the life of the process: workers and the HTTP handle may be used until exit.
  g_shared = new SharedState(ModuleSettings::FromEnvironment());
  curl_global_init(CURL_GLOBAL_ALL);
}

SharedState& IndexWorker::shared() { return *g_shared; }

IndexWorker::IndexWorker(std::string file_name, uint32_t file_pos, std::string index_name,
                         std::string doc_type, uint32_t limit)
    : index_file_(std::make_shared<std::ifstream>()),
      file_name_(std::move(file_name)),
      index_name_(std::move(index_name)),
      file_pos_(file_pos),
      doc_type_(std::move(doc_type)),
      kind_(KindOf(doc_type_)),
      limit_(limit) {
  response_.read_pos = file_pos_;
  // Only regular files are read; a name with a NUL byte would open a different file. Otherwise
  // the stream is left failed and run() reports it.
  struct stat st {};
  if (file_name_.find('\0') == std::string::npos && stat(file_name_.c_str(), &st) == 0 &&
      S_ISREG(st.st_mode)) {
    index_file_->open(file_name_, std::ios::in | std::ios::binary);
  } else {
    index_file_->setstate(std::ios::failbit);
  }
  stime_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
               .count();
  if (index_file_->good()) {
    index_file_->seekg(0, std::ios::end);
    const std::streamoff end = index_file_->tellg();
    filesize_ = end > 0 ? static_cast<size_t>(end) : 0;
  }
  quoted_file_name_ = Quoted(file_name_);
  quoted_file_name_crc32_ = fmt::format("\"{}\"", Crc32(file_name_));
  stime_text_ = fmt::format("{:.6f}", static_cast<double>(stime_) / 1000000.0);
  action_prefix_ = "{\"index\": {\"_index\":" + Quoted(index_name_) +
                   ", \"_type\": " + Quoted(doc_type_) + ", \"_id\": \"";
  if (shared().ipg.is_empty()) create_ipg();
}

void IndexWorker::create_ipg() {
  SharedState& state = shared();
  ReadIpAddrGroupFile(state.settings.ip_groups_file, &state.ipg);
}

}  // namespace kyv::infra::log
