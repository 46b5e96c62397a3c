#include "platform/datastore/db_index.h"

#include <gtest/gtest.h>

namespace {

TEST(DbTableNameTest, CutsAtLastRuntimeAndLowerCases) {
  struct Case {
    const char* message;
    const char* table;
  } cases[] = {
      {"CorvelVcenterRuntime", "corvelvcenter"},
      {"CorvelDCRuntime", "corveldc"},
      {"CorvelSEVMRuntime", "corvelsevm"},
      {"CloudConnectorStatus", "cloudconnectorstatus"},
      {"Cloud", "cloud"},
      {"ServiceEngine", "serviceengine"},
      {"ARuntimeBRuntimeC", "aruntimeb"},
      {"Runtime", ""},
      {"RuntimeInfo", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(db_table_name_from_pb(c.message), c.table);
  }
}

}  // namespace
