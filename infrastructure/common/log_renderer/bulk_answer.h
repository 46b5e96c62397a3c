// Reading of the search index's answer to a bulk request.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kyv::infra::log {

// What one answer counts for.
struct BulkTally {
  bool parsed = false;     // false: the body is not a JSON object (see `error`)
  uint32_t accepted = 0;   // items that count as indexed
  bool not_found = false;  // an item answered 404
  std::string error;
};

// Reads a bulk answer. With "errors" true nothing is counted. Otherwise the items are visited in
// order; an item's status is read from its action object ({"index": {"status": 201}}) or, failing
// that, from the item itself: 409 is skipped, 404 sets not_found and ends the visit, and any other
// value, a missing or unreadable status (read as 0) included, counts one.
BulkTally ReadBulkAnswer(std::string_view body);

}  // namespace kyv::infra::log
