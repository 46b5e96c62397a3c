// Derived fields of IndexWorker: the parts that use the process-wide lookups (tenant map, IP
// address groups, country database, cipher table, filter texts, user agent parser).

#include "infrastructure/common/log_renderer/derived_fields.h"
#include "infrastructure/common/log_renderer/filter_texts.h"
#include "infrastructure/common/log_renderer/trailsift.h"

namespace kyv::infra::log {

namespace {

constexpr char kAdminTenant[] = "admin";

}  // namespace

std::string IndexWorker::get_bitmap_string(uint64_t value, const std::string& enum_name) {
  SharedState& state = shared();
  if (state.old_kyvfilter_.empty()) state.old_kyvfilter_ = get_bitmap_texts(enum_name);
  return BitmapString(value, state.old_kyvfilter_);
}

std::string IndexWorker::ClientLocationOf(uint32_t ip, bool has_vs, const std::string& vs) {
  SharedState& state = shared();
  state.tenants.assign(1, kAdminTenant);
  if (has_vs && !vs.empty()) {
    std::string tenant = state.vs_tenant_map_.get_tenant_for_vs(vs);
    if (!tenant.empty() && tenant != kAdminTenant) state.tenants.push_back(std::move(tenant));
  }
  parse_ip_addr(ip, &state.ip_text);
  std::string location = state.ipg.get_ipaddrgroup(state.ip_text, state.tenants);
  if (location.empty()) location = state.gi_.get_country(ip);
  return location.empty() ? "Unknown" : location;
}

template <typename L>
void IndexWorker::FillCommonFields(L* log) {
  SharedState& state = shared();
  if (log->has_significant() && log->significant() != 0) {
    log->set_significance(get_bitmap_string(log->significant(), "_OLDKYVDEFINEDFILTERS"));
  } else if (log->significant_log_size() > 0) {
    if (state.kyvfilter_.empty()) state.kyvfilter_ = get_bitmap_texts("_KYVDEFINEDFILTERS");
    log->set_significance(FilterListText(log->significant_log(), state.kyvfilter_));
  }
  if (log->has_ssl_cipher() && !log->ssl_cipher().empty()) {
    log->set_ssl_cipher(
        SslCipherText(log->ssl_cipher(), state.cipher_props_.Find(log->ssl_cipher())));
  }
}

void IndexWorker::fill_special_fields_log(ApplicationLog* log) {
  if (log->has_client_ip() && log->client_location().empty()) {
    log->set_client_location(
        ClientLocationOf(log->client_ip(), log->has_virtualservice(), log->virtualservice()));
  }
  SetUserAgentFields(log, shared().ua_parser_);
  SetResponseTimes(log);
  FillCommonFields(log);
  SetClientCiphers(log);
  SetGrpcReason(log);
}

void IndexWorker::fill_special_fields_log(ConnectionLog* log) {
  if (log->has_client_ip() && log->client_location().empty()) {
    const std::string& dns_location = log->dns_request().client_location().name();
    if (log->dns_request().client_location().has_name() && !dns_location.empty()) {
      log->set_client_location(dns_location);
    } else {
      log->set_client_location(
          ClientLocationOf(log->client_ip(), log->has_virtualservice(), log->virtualservice()));
    }
  }
  SetConnectionTotals(log);
  FillCommonFields(log);
  CollectDnsIps(log);
}

void IndexWorker::retrieve_event_context(EventLog* event) {
  event->set_context(EventContextOf(*event));
}

}  // namespace kyv::infra::log
