#include "infrastructure/common/log_renderer/event_desc_func.h"

#include <fmt/format.h>

#include "infrastructure/common/log_renderer/event_desc_template.h"
#include "proto/event_id.pb.h"
#include "proto/events.pb.h"
#include "proto/options.pb.h"

namespace kyv::infra::log {

using google::protobuf::Descriptor;
using google::protobuf::DynamicCastToGenerated;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

const std::string SERVER_DOWN_FMT =
    "Server {} ({}:{}) in Pool {} is DOWN due to health monitor {} failure";
const std::string SERVER_DOWN_HA_COMPROMISED_FMT =
    "Server {} ({}:{}) down due to health monitor {} failure by at least one but not all "
    "Service Engines";
const std::string SE_EV_SERVER_DOWN_FMT =
    "Server {} ({}:{}) is DOWN due to health monitor {} failure";
const std::string VIP_DNS_REGISTER_SUCCESS_FMT = "VIP {} registered to {}";
const std::string VIP_DNS_REGISTER_FAILURE_FMT = "VIP {} register failed for {}";
const std::string VIP_DNS_DEREGISTER_SUCCESS_FMT = "VIP {} de-registered from {}";
const std::string VIP_DNS_DEREGISTER_FAILURE_FMT = "VIP {} de-registered failed for {}";

namespace {

// The formatters look fields up by name, so that one formatter serves several detail messages.

// Singular field `name` of type `type`, or nullptr when the message type has no such field.
const FieldDescriptor* FieldOf(const Descriptor* d, const char* name,
                               FieldDescriptor::CppType type) {
  const FieldDescriptor* f = d->FindFieldByName(name);
  return f != nullptr && !f->is_repeated() && f->cpp_type() == type ? f : nullptr;
}

// Repeated string field `name`, or nullptr.
const FieldDescriptor* RepeatedStringsOf(const Descriptor* d, const char* name) {
  const FieldDescriptor* f = d->FindFieldByName(name);
  return f != nullptr && f->is_repeated() && f->cpp_type() == FieldDescriptor::CPPTYPE_STRING
             ? f
             : nullptr;
}

// "<label><first>" and ",..." when there are more; nothing for an absent or empty field.
std::string FirstOfList(const Message& m, const Reflection* r, const FieldDescriptor* f,
                        const char* label) {
  if (f == nullptr || r->FieldSize(m, f) == 0) return "";
  std::string text = label + r->GetRepeatedString(m, f, 0);
  if (r->FieldSize(m, f) > 1) text += ",...";
  return text;
}

void MetricsThreshold(const Message& m, const Descriptor* d, const Reflection* r,
                      const std::string&, std::string* result) {
  const FieldDescriptor* name = FieldOf(d, "metric_name", FieldDescriptor::CPPTYPE_STRING);
  const FieldDescriptor* value = FieldOf(d, "current_value", FieldDescriptor::CPPTYPE_DOUBLE);
  const FieldDescriptor* threshold = FieldOf(d, "threshold", FieldDescriptor::CPPTYPE_DOUBLE);
  if (name == nullptr || value == nullptr || threshold == nullptr) return;
  const FieldDescriptor* server = FieldOf(d, "server", FieldDescriptor::CPPTYPE_STRING);
  if (server != nullptr) {
    *result =
        fmt::format("{} value {} hit threshold {} on {}", r->GetString(m, name),
                    r->GetDouble(m, value), r->GetDouble(m, threshold), r->GetString(m, server));
  } else {
    *result = fmt::format("{} value {} hit threshold {}", r->GetString(m, name),
                          r->GetDouble(m, value), r->GetDouble(m, threshold));
  }
}

void DosAttack(const Message& m, const Descriptor* d, const Reflection* r, const std::string&,
               std::string* result) {
  const FieldDescriptor* attack = FieldOf(d, "attack", FieldDescriptor::CPPTYPE_ENUM);
  const FieldDescriptor* count = FieldOf(d, "attack_count", FieldDescriptor::CPPTYPE_DOUBLE);
  if (attack == nullptr || count == nullptr) return;
  *result =
      fmt::format("{:.1f} {} attacks", r->GetDouble(m, count), r->GetEnum(m, attack)->name()) +
      FirstOfList(m, r, RepeatedStringsOf(d, "src_ips"), "from_ip(s) ") +
      FirstOfList(m, r, RepeatedStringsOf(d, "urls"), "on URL(s) ");
}

void Scheduler(const Message& m, const Descriptor* d, const Reflection* r, const std::string&,
               std::string* result) {
  const FieldDescriptor* status = FieldOf(d, "status", FieldDescriptor::CPPTYPE_STRING);
  if (status == nullptr) return;
  *result = r->GetString(m, status) == "Success" ? "Scheduler Action Succeeded"
                                                 : "Scheduler Action Failed";
}

void AuditCompliance(const Message& m, const Descriptor*, const Reflection*, const std::string&,
                     std::string* result) {
  const auto* info = DynamicCastToGenerated<AuditComplianceEventInfo>(&m);
  if (info == nullptr) return;
  std::string users;
  for (const ACUserIdentity& user : info->user_identities()) users += user.DebugString() + ",";
  if (!users.empty()) users.pop_back();
  *result = fmt::format("Audit compliance event of type {} for users {}",
                        ACEventType_Name(info->type()), users);
}

using FormatFn = void (*)(const Message&, const Descriptor*, const Reflection*, const std::string&,
                          std::string*);

struct Formatter {
  const char* name;  // after "kyv.util.event_formatters."
  FormatFn fn;
  const std::string* tmpl;
};

const Formatter kFormatters[] = {
    {"metrics_threshold_event_desc_func", MetricsThreshold, nullptr},
    {"dos_attack_event_desc_func", DosAttack, nullptr},
    {"scheduler_event_desc_func", Scheduler, nullptr},
    {"server_down_event_desc_func", server_down_event_desc_func, &SERVER_DOWN_FMT},
    {"server_down_ha_event_desc_func", server_down_event_desc_func,
     &SERVER_DOWN_HA_COMPROMISED_FMT},
    {"se_ev_server_down_event_desc_func", server_down_event_desc_func, &SE_EV_SERVER_DOWN_FMT},
    {"vip_register_success_event_desc_func", vip_register_event_desc_func,
     &VIP_DNS_REGISTER_SUCCESS_FMT},
    {"vip_register_fail_event_desc_func", vip_register_event_desc_func,
     &VIP_DNS_REGISTER_FAILURE_FMT},
    {"vip_deregister_success_event_desc_func", vip_register_event_desc_func,
     &VIP_DNS_DEREGISTER_SUCCESS_FMT},
    {"vip_deregister_fail_event_desc_func", vip_register_event_desc_func,
     &VIP_DNS_DEREGISTER_FAILURE_FMT},
    {"audit_compliance_event_desc_func", AuditCompliance, nullptr},
};

constexpr std::string_view kFormatterModule = "kyv.util.event_formatters.";

const Formatter* FindFormatter(std::string_view name) {
  if (name.substr(0, kFormatterModule.size()) != kFormatterModule) return nullptr;
  name.remove_prefix(kFormatterModule.size());
  for (const Formatter& f : kFormatters) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

}  // namespace

void server_down_event_desc_func(const Message& m, const Descriptor* d, const Reflection* r,
                                 const std::string& tmpl, std::string* result) {
  const FieldDescriptor* field = FieldOf(d, "server", FieldDescriptor::CPPTYPE_MESSAGE);
  if (field == nullptr) return;
  const auto* server = DynamicCastToGenerated<SeHmEventServerDetails>(&r->GetMessage(m, field));
  if (server == nullptr) return;
  // Every monitor is followed by ", ", the last one too: "[a, b, ]".
  std::string monitors = "[";
  for (const SeHmEventShmDetails& shm : server->shm()) monitors += shm.health_monitor() + ", ";
  monitors += "]";
  if (tmpl == SERVER_DOWN_FMT) {
    const FieldDescriptor* pool = FieldOf(d, "pool", FieldDescriptor::CPPTYPE_STRING);
    *result = fmt::format(fmt::runtime(tmpl), server->hostname(), server->ip().addr(),
                          server->port(), pool != nullptr ? r->GetString(m, pool) : "", monitors);
  } else {
    *result = fmt::format(fmt::runtime(tmpl), server->hostname(), server->ip().addr(),
                          server->port(), monitors);
  }
}

void vip_register_event_desc_func(const Message& m, const Descriptor*, const Reflection*,
                                  const std::string& tmpl, std::string* result) {
  const auto* info = DynamicCastToGenerated<DNSRegisterInfo>(&m);
  if (info == nullptr) return;
  const std::string& addr = info->has_fip() ? info->fip().addr() : info->vip().addr();
  std::string names;
  for (const DnsInfo& dns : info->dns_info()) {
    if (!names.empty()) names += ",";
    names += dns.fqdn();
  }
  *result = fmt::format(fmt::runtime(tmpl), addr, names);
}

void run_event_desc_func(const std::string& func_name, const Message& details,
                         std::string* result) {
  const Formatter* formatter = FindFormatter(func_name);
  if (formatter == nullptr) return;
  static const std::string kNoTemplate;
  formatter->fn(details, details.GetDescriptor(), details.GetReflection(),
                formatter->tmpl != nullptr ? *formatter->tmpl : kNoTemplate, result);
}

std::string event_description_string(const EventLog& event) {
  std::string tmpl;
  std::string func_name;
  const google::protobuf::EnumDescriptor* ids = EventId_descriptor();
  for (int i = 0; i < ids->value_count(); ++i) {
    if (ids->value(i)->number() != event.event_id()) continue;
    const auto& options = ids->value(i)->options();
    if (options.HasExtension(event_desc)) tmpl += options.GetExtension(event_desc);
    if (options.HasExtension(event_desc_func)) func_name += options.GetExtension(event_desc_func);
  }
  std::string result;
  if (tmpl.empty() && func_name.empty()) return result;

  const EventDetails& details = event.event_details();
  std::vector<const FieldDescriptor*> fields;
  details.GetReflection()->ListFields(details, &fields);  // field-number order
  for (const FieldDescriptor* field : fields) {
    if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE || field->is_repeated()) continue;
    const Message& detail = details.GetReflection()->GetMessage(details, field);
    if (!func_name.empty()) run_event_desc_func(func_name, detail, &result);
    if (result.empty() && !tmpl.empty()) result += process_event_desc_str(&detail, tmpl);
    if (!result.empty()) return result;
  }
  return result;
}

}  // namespace kyv::infra::log
