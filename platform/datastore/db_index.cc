#include "platform/datastore/db_index.h"

#include <cctype>

std::string db_table_name_from_pb(const std::string& message_name) {
  std::string table = message_name.substr(0, message_name.rfind("Runtime"));
  for (char& c : table) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return table;
}
