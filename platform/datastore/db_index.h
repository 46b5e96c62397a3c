// The address of a datastore object: a table name and a key within it.
#pragma once

#include <string>
#include <utility>

// (table, key) of one stored object. Ordered by table, then key, so that sets and maps of
// indexes list a table's keys together and in key order.
class DbIndex {
 public:
  DbIndex() = default;
  DbIndex(std::string table, std::string key) : table_(std::move(table)), key_(std::move(key)) {}

  // The two parts, as given.
  const std::string& table() const { return table_; }
  const std::string& key() const { return key_; }
  // True when either part is empty; such an index addresses nothing.
  bool empty() const { return table_.empty() || key_.empty(); }

  friend bool operator==(const DbIndex& a, const DbIndex& b) {
    return a.table_ == b.table_ && a.key_ == b.key_;
  }
  friend bool operator!=(const DbIndex& a, const DbIndex& b) { return !(a == b); }
  friend bool operator<(const DbIndex& a, const DbIndex& b) {
    int c = a.table_.compare(b.table_);
    return c != 0 ? c < 0 : a.key_ < b.key_;
  }

 private:
  std::string table_;
  std::string key_;
};

// Table of a record type: the message name with everything from the last occurrence of
// "Runtime" onward removed, lower-cased ("CorvelVcenterRuntime" -> "corvelvcenter",
// "CloudConnectorStatus" -> "cloudconnectorstatus").
std::string db_table_name_from_pb(const std::string& message_name);
