// IP address groups of every tenant, for labelling client addresses in logs: one
// longest-prefix-match tree per tenant over the addresses, ranges and prefixes of its groups.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/patricia/patricia.h"
#include "proto/config.pb.h"

namespace kyv::infra::log {

// The groups of one tenant and the prefix tree built from them. Each tree entry holds the uuid
// of the group that added it.
class ip_table {
 public:
  ip_table();  // no group, empty tree
  ~ip_table();
  ip_table(const ip_table&) = delete;
  ip_table& operator=(const ip_table&) = delete;

  // Adds the prefix ip/len to the tree with `uuid` as its data. A length outside 0..32 or an
  // address that inet_aton refuses adds nothing and writes a warning (one in every
  // logging_freq occurrences of each message). A prefix already in the tree keeps its data.
  void add_ipentry(const std::string& ip, int len, const std::string& uuid);

  // Adds every address (/32), range (split by SplitIpRange; a range whose ends are not both
  // IPv4 addresses is skipped) and prefix of `group`, in that order, to the tree. The group
  // itself is not stored.
  void add_obj(const IpAddrGroup& group);

  // Stores a copy of `group` in place of the group with its uuid, then rebuilds the tree from
  // every stored group (in uuid order).
  void upd_obj(const IpAddrGroup& group);
  // Drops the group `uuid`, if stored, and rebuilds the tree.
  void del_obj(const std::string& uuid);
  // Stores a copy of `group` like upd_obj without rebuilding the tree; call rebuild() once all
  // groups of a load are stored. The result equals one upd_obj per group.
  void set_obj(const IpAddrGroup& group);
  // Frees the tree and builds it again from every stored group, in uuid order.
  void rebuild();

  // The stored group `uuid`, or nullptr. Valid until the group is replaced or dropped.
  const IpAddrGroup* find_obj(const std::string& uuid) const;

  // The uuid held by the longest stored prefix that contains the dotted-quad address `addr`;
  // empty when none does, or when `addr` is not an IPv4 address (a rate-limited warning). The
  // view stays valid until the tree changes.
  std::string_view find_ip(const std::string& addr) const;

  // Number of stored groups.
  size_t size() const { return grp_objs_.size(); }
  // Drops every group and empties the tree.
  void clear_ipt();

 private:
  void AddPrefix(uint32_t key, int len, const std::string& uuid);

  pat_node* patricia_;
  std::map<std::string, IpAddrGroup> grp_objs_;
};

// The process-wide table: the ip_table of every tenant uuid.
class ip_table_group {
 public:
  // Stores `group` in the table of its tenant_uuid (created when missing) with upd_obj.
  void upd_group(const IpAddrGroup& group);
  // Like upd_group without rebuilding the tenant's tree; call rebuild() after the last one.
  void set_group(const IpAddrGroup& group);
  void rebuild();

  // find_ip in the table of `tenant`; empty when the tenant has no table.
  std::string_view find_ip(const std::string& addr, const std::string& tenant) const;
  // Name of the group `uuid`, looked up in the tables of all tenants in tenant uuid order; ""
  // when no tenant holds it.
  std::string find_ipgroup(std::string_view uuid) const;
  // True when no tenant holds a group.
  bool is_empty() const { return group_map_.empty(); }
  // Drops every group of every tenant.
  void clear_ipg() { group_map_.clear(); }

  // Name of the group found for the dotted-quad address `ip` in the first of `tenants` (in
  // list order) whose table holds a prefix containing it; "" when none does.
  std::string get_ipaddrgroup(const std::string& ip, const std::vector<std::string>& tenants) const;

  // Number of tenants with a table.
  size_t tenant_count() const { return group_map_.size(); }

 private:
  ip_table& TableOf(const std::string& tenant);

  std::map<std::string, std::unique_ptr<ip_table>> group_map_;
};

}  // namespace kyv::infra::log
