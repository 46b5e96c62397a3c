// Descriptions of event records that arrive without one: the event_desc template or the
// event_desc_func formatter of the event's EventId, applied to its detail messages.
#pragma once

#include <google/protobuf/message.h>

#include <string>

#include "proto/log.pb.h"

namespace kyv::infra::log {

// Fixed description templates of the built-in formatters ("{}" fields, filled in order).
extern const std::string SERVER_DOWN_FMT;
extern const std::string SERVER_DOWN_HA_COMPROMISED_FMT;
extern const std::string SE_EV_SERVER_DOWN_FMT;
extern const std::string VIP_DNS_REGISTER_SUCCESS_FMT;
extern const std::string VIP_DNS_REGISTER_FAILURE_FMT;
extern const std::string VIP_DNS_DEREGISTER_SUCCESS_FMT;
extern const std::string VIP_DNS_DEREGISTER_FAILURE_FMT;

// The description of `event`: "" when its EventId has neither an event_desc nor an
// event_desc_func option. Otherwise each set field of event_details, in field-number order, is
// tried as the detail message: the named formatter first (an unknown name, or a detail message
// the formatter does not take, gives nothing), then the template (process_event_desc_str); the
// first field that yields text gives the description.
std::string event_description_string(const EventLog& event);

// The formatter named `func_name` (an event_desc_func value) applied to `details`. Replaces
// `*result` with the text; leaves it unchanged when the name is unknown or `details` lacks
// what the formatter reads.
void run_event_desc_func(const std::string& func_name, const google::protobuf::Message& details,
                         std::string* result);

// The server-down formatter: "server" must hold an SeHmEventServerDetails. `tmpl` is one of
// the three server-down templates; SERVER_DOWN_FMT also takes the detail's "pool".
void server_down_event_desc_func(const google::protobuf::Message& details,
                                 const google::protobuf::Descriptor* descriptor,
                                 const google::protobuf::Reflection* reflection,
                                 const std::string& tmpl, std::string* result);

// The VIP formatter: applies to DNSRegisterInfo only; the floating address when set, else the
// virtual address, and the fqdns of dns_info joined with ",".
void vip_register_event_desc_func(const google::protobuf::Message& details,
                                  const google::protobuf::Descriptor* descriptor,
                                  const google::protobuf::Reflection* reflection,
                                  const std::string& tmpl, std::string* result);

}  // namespace kyv::infra::log
