// Display texts of the log filter enumerations (why a log is significant).
#pragma once

#include <google/protobuf/repeated_field.h>

#include <cstdint>
#include <map>
#include <string>

namespace kyv::infra::log {

// Value number to `text` option of the enumeration "_KYVDEFINEDFILTERS" (KyvDefinedFilters)
// or "_OLDKYVDEFINEDFILTERS" (OldKyvDefinedFilters). Values without a text are left out; any
// other name gives an empty map.
std::map<int, std::string> get_bitmap_texts(const std::string& enum_name);

// The texts of the OldKyvDefinedFilters values, in declaration order, whose number n has bit
// (n mod 64) set in `bitmap`, joined with ", "; "" when none does. A value that `texts` lacks
// is written as its number.
std::string BitmapString(uint64_t bitmap, const std::map<int, std::string>& texts);

// The texts of `values`, in order, joined with ", ". A value that `texts` lacks is written as
// its number, so that one filter without a text never keeps a log out of the index.
std::string FilterListText(const google::protobuf::RepeatedField<int>& values,
                           const std::map<int, std::string>& texts);

}  // namespace kyv::infra::log
