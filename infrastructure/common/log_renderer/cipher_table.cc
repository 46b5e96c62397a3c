#include "infrastructure/common/log_renderer/cipher_table.h"

#include <fstream>
#include <vector>

namespace kyv::infra::log {

namespace {

std::vector<std::string> SplitAny(const std::string& line, const char* separators) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t pos = line.find_first_of(separators, start);
    out.push_back(line.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) return out;
    start = pos + 1;
  }
}

// The second "="-separated piece of `field`; false when it has no "=".
bool ValueOf(const std::string& field, std::string* value) {
  const size_t eq = field.find('=');
  if (eq == std::string::npos) return false;
  const size_t next = field.find('=', eq + 1);
  *value = field.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
  return true;
}

}  // namespace

const char* ForwardSecrecyText(const std::string& name) {
  const bool pfs = name.find("DHE") != std::string::npos || name.find("EDH") != std::string::npos ||
                   name == "TLS_AES_256_GCM_SHA384" || name == "TLS_AES_128_GCM_SHA256" ||
                   name == "TLS_CHACHA20_POLY1305_SHA256";
  return pfs ? "True" : "False";
}

const CipherProps* CipherTable::Find(const std::string& name) {
  if (!loaded_) Load();
  auto it = table_.find(name);
  return it == table_.end() ? nullptr : &it->second;
}

void CipherTable::Load() {
  loaded_ = true;
  std::ifstream in(path_);
  std::string line;
  while (in.is_open() && std::getline(in, line)) {
    const std::vector<std::string> fields = SplitAny(line, " \t");
    if (fields.size() < 6) continue;
    CipherProps props;
    if (!ValueOf(fields[2], &props.kx) || !ValueOf(fields[3], &props.auth) ||
        !ValueOf(fields[4], &props.enc) || !ValueOf(fields[5], &props.mac)) {
      continue;
    }
    std::string enc;
    for (char c : props.enc) {
      if (c != '(' && c != ')') enc.push_back(c);
    }
    props.enc = std::move(enc);
    props.pfs = ForwardSecrecyText(fields[0]);
    table_.emplace(fields[0], std::move(props));  // the first entry of a name wins
  }
}

}  // namespace kyv::infra::log
