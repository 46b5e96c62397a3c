// Properties of TLS ciphers, read from the controller's verbose cipher listing.
#pragma once

#include <string>
#include <unordered_map>

namespace kyv::infra::log {

// What a cipher name stands for; texts as the listing writes them.
struct CipherProps {
  std::string kx;    // key exchange
  std::string auth;  // authentication
  std::string enc;   // encryption, with the key size's parentheses removed: "AESGCM256"
  std::string mac;
  std::string pfs;   // forward secrecy: "True" or "False"
};

// The cipher table, read once on first use.
class CipherTable {
 public:
  explicit CipherTable(std::string path) : path_(std::move(path)) {}

  // The properties of `name`, or nullptr when the listing lacks it (or could not be read).
  // The listing is read on the first call only.
  const CipherProps* Find(const std::string& name);

  bool loaded() const { return loaded_; }
  size_t size() const { return table_.size(); }

 private:
  // Each line: name, protocol, then Kx=, Au=, Enc=, Mac= fields, split at every blank and every
  // tab (two separators in a row give an empty field). Lines with fewer than six fields, or
  // whose fields 3 to 6 lack "=", are skipped. The first entry of a name wins.
  void Load();

  std::string path_;
  bool loaded_ = false;
  std::unordered_map<std::string, CipherProps> table_;
};

// "True" when the cipher offers forward secrecy (an ephemeral Diffie-Hellman exchange or a
// TLS 1.3 suite), else "False".
const char* ForwardSecrecyText(const std::string& cipher_name);

}  // namespace kyv::infra::log
