#include "infrastructure/common/log_renderer/module_settings.h"

#include <cstdlib>
#include <iostream>

namespace kyv::infra::log {

namespace {

std::string FromEnv(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr) return fallback;
  if (*value == '\0') {
    std::cerr << "trailsift: ignoring empty " << name << std::endl;
    return fallback;
  }
  return value;
}

}  // namespace

uint16_t ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return 0;
  uint32_t port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  return port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
}

ModuleSettings ModuleSettings::FromEnvironment() {
  ModuleSettings s;
  s.regexes_file = FromEnv("KYV_TRAILSIFT_REGEXES", "/opt/kyv/etc/regexes.yaml");
  s.geoip_db = FromEnv("KYV_TRAILSIFT_GEOIP_DB", "/usr/share/GeoIP/GeoIP.dat");
  s.vs_tenant_map = FromEnv("KYV_TRAILSIFT_TENANT_MAP", "/var/lib/kyv/logs/vs_tenant_map");
  s.cipher_file =
      FromEnv("KYV_TRAILSIFT_CIPHERS", "/opt/kyv/python/lib/kyv/visibility/openssl_ciphers");
  s.ip_groups_file =
      FromEnv("KYV_TRAILSIFT_IP_GROUPS", "/var/lib/kyv/logs/ip_address_groups_proto");
  s.bulk_host = FromEnv("KYV_TRAILSIFT_BULK_HOST", "127.0.0.1");
  const std::string port_text = FromEnv("KYV_TRAILSIFT_BULK_PORT", "5010");
  s.bulk_port = ParsePort(port_text);
  if (s.bulk_port == 0) {
    std::cerr << "trailsift: KYV_TRAILSIFT_BULK_PORT \"" << port_text
              << "\" is not a port; using 5010" << std::endl;
    s.bulk_port = 5010;
  }
  return s;
}

}  // namespace kyv::infra::log
