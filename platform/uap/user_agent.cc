#include "platform/uap/user_agent.h"

#include <tuple>

namespace uap_cpp {

std::string Agent::version() const {
  std::string out;
  for (const std::string* part : {&major, &minor, &patch, &patch_minor}) {
    if (part->empty()) break;
    if (!out.empty()) out += '.';
    out += *part;
  }
  return out;
}

bool Agent::operator==(const Agent& other) const {
  return std::tie(family, major, minor, patch, patch_minor) ==
         std::tie(other.family, other.major, other.minor, other.patch, other.patch_minor);
}

bool Device::operator==(const Device& other) const {
  return std::tie(family, brand, model) == std::tie(other.family, other.brand, other.model);
}

bool UserAgent::operator==(const UserAgent& other) const {
  return std::tie(device, os, browser) == std::tie(other.device, other.os, other.browser);
}

}  // namespace uap_cpp
