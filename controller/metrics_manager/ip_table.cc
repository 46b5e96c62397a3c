#include "controller/metrics_manager/ip_table.h"

#include <arpa/inet.h>
#include <glog/logging.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "controller/metrics_manager/ip_range.h"
#include "controller/metrics_manager/log_every.h"

namespace kyv::infra::log {

namespace {

// Each warning is counted on its own.
LogEvery g_bad_len_warning;
LogEvery g_bad_entry_addr_warning;
LogEvery g_bad_find_addr_warning;

// The address of a dotted-quad text in host byte order; false when inet_aton refuses it.
bool ParseAddr(const std::string& text, uint32_t* key) {
  in_addr addr{};
  if (inet_aton(text.c_str(), &addr) == 0) return false;
  *key = ntohl(addr.s_addr);
  return true;
}

std::string AddrText(uint32_t key) {
  const in_addr addr{htonl(key)};
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &addr, text, sizeof(text)) != nullptr ? text : "";
}

void FreeData(void* data) { std::free(data); }

pat_node* NewHead() {
  pat_node* head = pat_new_head();
  if (head == nullptr) throw std::bad_alloc();
  return head;
}

}  // namespace

ip_table::ip_table() : patricia_(NewHead()) {}

ip_table::~ip_table() { pat_free(patricia_, FreeData); }

void ip_table::add_ipentry(const std::string& ip, int len, const std::string& uuid) {
  if (len > 32 || len < 0) {
    LOG_IF(WARNING, g_bad_len_warning.Tick()) << "add_ipentry"
                                              << " "
                                              << " len > 32. len " << len;
    return;
  }
  uint32_t key = 0;
  // A NUL inside the text would make inet_aton read a different address.
  if (ip.find('\0') != std::string::npos || !ParseAddr(ip, &key)) {
    LOG_IF(WARNING, g_bad_entry_addr_warning.Tick()) << "add_ipentry"
                                                     << " "
                                                     << " invalid address: ip = " << ip;
    return;
  }
  AddPrefix(key, len, uuid);
}

void ip_table::AddPrefix(uint32_t key, int len, const std::string& uuid) {
  char* data = strdup(uuid.c_str());
  if (data == nullptr) throw std::bad_alloc();
  pat_node* node = pat_node_new(key, static_cast<unsigned>(len), data);
  if (node == nullptr) {
    std::free(data);
    throw std::bad_alloc();
  }
  // The tree keeps the entry it already holds for the same prefix; ours is then released.
  if (pat_insert(node, patricia_) != node) pat_node_free(node, FreeData);
}

void ip_table::add_obj(const IpAddrGroup& group) {
  const std::string& uuid = group.uuid();
  for (const IpAddr& addr : group.addrs()) add_ipentry(addr.addr(), 32, uuid);
  for (const IpAddrRange& range : group.ranges()) {
    uint32_t begin = 0;
    uint32_t end = 0;
    if (!ParseAddr(range.begin().addr(), &begin) || !ParseAddr(range.end().addr(), &end)) {
      continue;
    }
    for (const Ipv4Prefix& p : SplitIpRange(begin, end)) add_ipentry(AddrText(p.addr), p.len, uuid);
  }
  for (const IpAddrPrefix& prefix : group.prefixes()) {
    add_ipentry(prefix.ip_addr().addr(), prefix.mask(), uuid);
  }
}

void ip_table::set_obj(const IpAddrGroup& group) { grp_objs_[group.uuid()] = group; }

void ip_table::upd_obj(const IpAddrGroup& group) {
  set_obj(group);
  rebuild();
}

void ip_table::del_obj(const std::string& uuid) {
  grp_objs_.erase(uuid);
  rebuild();
}

void ip_table::rebuild() {
  pat_node* fresh = NewHead();
  pat_free(patricia_, FreeData);
  patricia_ = fresh;
  for (const auto& entry : grp_objs_) add_obj(entry.second);
}

const IpAddrGroup* ip_table::find_obj(const std::string& uuid) const {
  auto it = grp_objs_.find(uuid);
  return it == grp_objs_.end() ? nullptr : &it->second;
}

std::string_view ip_table::find_ip(const std::string& addr) const {
  uint32_t key = 0;
  if (addr.find('\0') != std::string::npos || !ParseAddr(addr, &key)) {
    LOG_IF(WARNING, g_bad_find_addr_warning.Tick()) << "find_ip"
                                                    << " "
                                                    << " invalid address: dst = " << addr;
    return {};
  }
  // The search answers the head itself when no stored prefix holds the address. An entry of
  // 0.0.0.0/0 looks like the head (key 0, mask 0) but is a real group prefix: compare the node.
  const pat_node* node = pat_search(key, patricia_);
  if (node == nullptr || node == patricia_ || node->p_mlen == 0 ||
      node->p_m[0].pm_data == nullptr) {
    return {};
  }
  return static_cast<const char*>(node->p_m[0].pm_data);
}

void ip_table::clear_ipt() {
  grp_objs_.clear();
  rebuild();
}

ip_table& ip_table_group::TableOf(const std::string& tenant) {
  std::unique_ptr<ip_table>& table = group_map_[tenant];
  if (table == nullptr) table = std::make_unique<ip_table>();
  return *table;
}

void ip_table_group::upd_group(const IpAddrGroup& group) {
  TableOf(group.tenant_uuid()).upd_obj(group);
}

void ip_table_group::set_group(const IpAddrGroup& group) {
  TableOf(group.tenant_uuid()).set_obj(group);
}

void ip_table_group::rebuild() {
  for (auto& entry : group_map_) entry.second->rebuild();
}

std::string_view ip_table_group::find_ip(const std::string& addr, const std::string& tenant) const {
  auto it = group_map_.find(tenant);
  return it == group_map_.end() ? std::string_view() : it->second->find_ip(addr);
}

std::string ip_table_group::find_ipgroup(std::string_view uuid) const {
  const std::string key(uuid);
  for (const auto& entry : group_map_) {
    if (const IpAddrGroup* group = entry.second->find_obj(key)) return group->name();
  }
  return "";
}

std::string ip_table_group::get_ipaddrgroup(const std::string& ip,
                                            const std::vector<std::string>& tenants) const {
  for (const std::string& tenant : tenants) {
    const std::string_view uuid = find_ip(ip, tenant);
    if (!uuid.empty()) return find_ipgroup(uuid);
  }
  return "";
}

}  // namespace kyv::infra::log
