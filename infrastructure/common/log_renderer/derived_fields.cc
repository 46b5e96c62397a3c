#include "infrastructure/common/log_renderer/derived_fields.h"

#include <fmt/format.h>

namespace kyv::infra::log {

void parse_ip_addr(uint32_t ip, std::string* out) {
  out->clear();
  for (int shift = 24; shift >= 0; shift -= 8) {
    *out += fmt::format_int((ip >> shift) & 0xFFu).c_str();
    if (shift != 0) out->push_back('.');
  }
}

void SetResponseTimes(ApplicationLog* log) {
  const uint64_t first = log->server_response_time_first_byte();
  if (first != 0) {
    const uint64_t rtt = log->server_rtt();
    log->set_app_response_time(rtt < first ? first - rtt : 0);
  }
  const uint64_t last = log->response_time_last_byte();
  if (last == 0) return;
  uint64_t transfer = first < last ? last - first : 0;
  if (log->has_waf_log()) {
    const WafLog& waf = log->waf_log();
    // Wide enough that four 64-bit latencies never wrap.
    const unsigned __int128 sum =
        static_cast<unsigned __int128>(waf.latency_request_header_phase()) +
        waf.latency_request_body_phase() + waf.latency_response_header_phase() +
        waf.latency_response_body_phase() + 499;
    const unsigned __int128 waf_ms = sum / 1000;
    transfer = waf_ms >= transfer ? 0 : transfer - static_cast<uint64_t>(waf_ms);
  }
  log->set_data_transfer_time(transfer);
  if (log->total_time() == 0) log->set_total_time(last + log->client_rtt());
}

void SetConnectionTotals(ConnectionLog* log) {
  if (!log->has_start_timestamp()) return;
  log->set_total_bytes(log->rx_bytes() + log->tx_bytes());
  log->set_total_pkts(log->rx_pkts() + log->tx_pkts());
  log->set_server_total_bytes(log->server_rx_bytes() + log->server_tx_bytes());
  log->set_server_total_pkts(log->server_rx_pkts() + log->server_tx_pkts());
}

void SetClientCiphers(ApplicationLog* log) {
  if (!log->has_cipher_bytes() || log->cipher_bytes().empty()) return;
  const std::string& bytes = log->cipher_bytes();
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const int value = (static_cast<uint8_t>(bytes[i]) << 8) | static_cast<uint8_t>(bytes[i + 1]);
    SSLCipherList* list = log->mutable_client_cipher_list();
    if (AllCipherEnums_IsValid(value)) {
      list->add_identified_ciphers(static_cast<AllCipherEnums>(value));
    } else {
      list->add_unidentified_ciphers(fmt::format("{:x}", value));
    }
  }
  log->clear_cipher_bytes();
}

void SetGrpcReason(ApplicationLog* log) {
  if (!log->has_grpc_status()) return;
  const int32_t status = log->grpc_status();
  if (status >= 0 && status <= 16 && GRPCStatus_IsValid(status)) {
    log->set_grpc_status_reason_phrase(static_cast<GRPCStatus>(status));
  }
}

void CollectDnsIps(ConnectionLog* log) {
  if (!log->has_dns_response() || log->dns_ips_size() != 0) return;
  for (const DnsResourceRecord& record : log->dns_response().records()) {
    if (record.has_addr_ip()) log->add_dns_ips(record.addr_ip());
  }
}

EventContext EventContextOf(const EventLog& event) {
  if (event.module() == CONFIG) return EVENT_CONTEXT_CONFIG;
  const std::string& uuid = event.obj_uuid();
  if (!uuid.empty() && EventContextAppUuidPrefix::descriptor()->FindFieldByName(
                           uuid.substr(0, uuid.find('-'))) != nullptr) {
    return EVENT_CONTEXT_APP;
  }
  return EVENT_CONTEXT_SYSTEM;
}

void SetUserAgentFields(ApplicationLog* log, const uap_cpp::UserAgentParser& parser) {
  if (!log->has_user_agent() || !log->client_device().empty()) return;
  if (log->user_agent().empty()) {
    log->set_client_device("");
    log->set_client_browser("");
    log->set_client_os("");
    return;
  }
  uap_cpp::UserAgent ua = parser.parse(log->user_agent());
  log->set_client_os(std::move(ua.os.family));
  log->set_client_browser(std::move(ua.browser.family));
  log->set_client_device(std::move(ua.device.family));
}

std::string SslCipherText(const std::string& name, const CipherProps* props) {
  static const CipherProps kUnknown{"Unknown", "Unknown", "Unknown", "Unknown", "Unknown"};
  const CipherProps& p = props != nullptr ? *props : kUnknown;
  return fmt::format("{} kx:{} auth:{} enc:{} mac:{} PFS:{}", name, p.kx, p.auth, p.enc, p.mac,
                     p.pfs);
}

}  // namespace kyv::infra::log
