#include "infrastructure/common/log_renderer/event_desc_func.h"

namespace kyv::infra::log {

const std::string SERVER_DOWN_FMT =
    "Server {} ({}:{}) in Pool {} is DOWN due to health monitor {} failure";
const std::string SERVER_DOWN_HA_COMPROMISED_FMT =
    "Server {} ({}:{}) down due to health monitor {} failure by at least one but not all "
    "Service Engines";
const std::string SE_EV_SERVER_DOWN_FMT = "Server {} ({}:{}) is DOWN due to health monitor {} failure";
const std::string VIP_DNS_REGISTER_SUCCESS_FMT = "VIP {} registered to {}";
const std::string VIP_DNS_REGISTER_FAILURE_FMT = "VIP {} register failed for {}";
const std::string VIP_DNS_DEREGISTER_SUCCESS_FMT = "VIP {} de-registered from {}";
const std::string VIP_DNS_DEREGISTER_FAILURE_FMT = "VIP {} de-registered failed for {}";

std::string event_description_string(const EventLog& /*event*/) { return ""; }

}  // namespace kyv::infra::log
