// Country of a client address, from the legacy country database.
#pragma once

#include <cstdint>
#include <string>

typedef struct GeoIPTag GeoIP;

namespace kyv::infra::log {

// Opens the database on the first lookup (memory cache, UTF-8) and keeps it for the life of the
// object. A failed open is retried on the next lookup.
class CountryDb {
 public:
  explicit CountryDb(std::string path) : path_(std::move(path)) {}
  ~CountryDb();
  CountryDb(const CountryDb&) = delete;
  CountryDb& operator=(const CountryDb&) = delete;

  // Three-letter country code of `ip` (first octet in the most significant byte), or "Unknown"
  // when the address has no country or the database cannot be opened (which writes
  // "Error opening GeoIP DB" and the path to standard error, on every failed attempt).
  std::string get_country(uint32_t ip);

 private:
  std::string path_;
  GeoIP* gi_ = nullptr;
};

}  // namespace kyv::infra::log
