// Where the log indexer module finds its side files and the bulk-index endpoint.
#pragma once

#include <cstdint>
#include <string>

namespace kyv::infra::log {

// Locations used by the module. Each has the production default and may be overridden by an
// environment variable, read once when the module loads (tests and side-by-side runs use this):
//
//   KYV_TRAILSIFT_REGEXES     user agent patterns    /opt/kyv/etc/regexes.yaml
//   KYV_TRAILSIFT_GEOIP_DB    country database       /usr/share/GeoIP/GeoIP.dat
//   KYV_TRAILSIFT_TENANT_MAP  vs to tenant map       /var/lib/kyv/logs/vs_tenant_map
//   KYV_TRAILSIFT_CIPHERS     cipher listing         /opt/kyv/python/lib/kyv/visibility/openssl_ciphers
//   KYV_TRAILSIFT_IP_GROUPS   IP address groups      /var/lib/kyv/logs/ip_address_groups_proto
//   KYV_TRAILSIFT_BULK_HOST   bulk endpoint host     127.0.0.1
//   KYV_TRAILSIFT_BULK_PORT   bulk endpoint port     5010
struct ModuleSettings {
  std::string regexes_file;
  std::string geoip_db;
  std::string vs_tenant_map;
  std::string cipher_file;
  std::string ip_groups_file;
  std::string bulk_host;
  uint16_t bulk_port = 0;

  // The defaults with the environment's overrides applied. An override that is empty, or a port
  // that is not a number from 1 to 65535, is ignored with a line on standard error.
  static ModuleSettings FromEnvironment();
};

// Parses a TCP port text: digits only, 1 to 65535. Returns 0 for anything else.
uint16_t ParsePort(const std::string& text);

}  // namespace kyv::infra::log
