#include "infrastructure/common/log_renderer/country_db.h"

#include <GeoIP.h>
#include <sys/stat.h>

#include <iostream>

namespace kyv::infra::log {

CountryDb::~CountryDb() {
  if (gi_ != nullptr) GeoIP_delete(gi_);
}

std::string CountryDb::get_country(uint32_t ip) {
  if (gi_ == nullptr) {
    // The library reports a missing file itself; check first so the only line is ours.
    struct stat st {};
    if (stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      gi_ = GeoIP_open(path_.c_str(), GEOIP_MEMORY_CACHE);
    }
    if (gi_ == nullptr) {
      std::cerr << "Error opening GeoIP DB" << path_ << std::endl;
      return "Unknown";
    }
    GeoIP_set_charset(gi_, GEOIP_CHARSET_UTF8);
  }
  const char* code = GeoIP_country_code3_by_ipnum(gi_, ip);
  return code != nullptr ? code : "Unknown";
}

}  // namespace kyv::infra::log
