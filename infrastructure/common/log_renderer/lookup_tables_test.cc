// The shared lookups of the module: tenant map, cipher table, country database.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "infrastructure/common/log_renderer/cipher_table.h"
#include "infrastructure/common/log_renderer/country_db.h"
#include "infrastructure/common/log_renderer/vs_tenant_map.h"

namespace kyv::infra::log {
namespace {

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "lookup_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::trunc) << text;
    return path;
  }

  std::string dir_;
};

TEST_F(LookupTest, TenantMapRereadsTheFileOnEveryMiss) {
  const std::string path = Write("map", "vs1,t1\nshort\nvs2,t2,extra\nvs1,t1b\n,empty\n");
  VsTenantMap map(path);
  EXPECT_EQ(map.get_tenant_for_vs("vs1"), "t1b");  // a later line overwrites
  EXPECT_EQ(map.get_tenant_for_vs("vs2"), "t2");   // further fields ignored
  EXPECT_EQ(map.get_tenant_for_vs(""), "empty");
  EXPECT_EQ(map.get_tenant_for_vs("vs3"), "");
  EXPECT_EQ(map.size(), 3u);

  Write("map", "vs3,t3\n");  // found on the next miss; old entries stay
  EXPECT_EQ(map.get_tenant_for_vs("vs3"), "t3");
  EXPECT_EQ(map.get_tenant_for_vs("vs1"), "t1b");

  VsTenantMap missing(dir_ + "/none");
  EXPECT_EQ(missing.get_tenant_for_vs("vs1"), "");
  EXPECT_EQ(missing.size(), 0u);
}

TEST_F(LookupTest, CipherTableSkipsMalformedLinesAndKeepsTheFirstEntry) {
  const std::string path = Write(
      "ciphers",
      "ECDHE-RSA-AES256-GCM-SHA384 TLSv1.2 Kx=ECDH Au=RSA Enc=AESGCM(256) Mac=AEAD\n"
      "TLS_AES_128_GCM_SHA256\tTLSv1.3\tKx=any\tAu=any\tEnc=AESGCM(128)\tMac=AEAD\n"
      "AES128-SHA SSLv3 Kx=RSA Au=RSA Enc=AES(128) Mac=SHA1\n"
      "AES128-SHA SSLv3 Kx=X Au=X Enc=X Mac=X\n"          // a second entry: ignored
      "EDH-RSA-DES-CBC3-SHA SSLv3 Kx=DH Au=RSA Enc=3DES(168) Mac=SHA1 extra\n"
      "SHORT-LINE TLSv1.2 Kx=RSA Au=RSA Enc=AES(128)\n"  // five fields
      "DOUBLE-BLANK  TLSv1.2 Kx=RSA Au=RSA Enc=AES Mac=SHA1\n"  // fields shift: no "="
      "NO-EQUALS TLSv1.2 Kx Au=RSA Enc=AES Mac=SHA1\n"
      "\n");
  CipherTable table(path);
  EXPECT_FALSE(table.loaded());
  struct Case {
    const char* name;
    CipherProps props;
  } cases[] = {
      {"ECDHE-RSA-AES256-GCM-SHA384", {"ECDH", "RSA", "AESGCM256", "AEAD", "True"}},
      {"TLS_AES_128_GCM_SHA256", {"any", "any", "AESGCM128", "AEAD", "True"}},
      {"AES128-SHA", {"RSA", "RSA", "AES128", "SHA1", "False"}},
      {"EDH-RSA-DES-CBC3-SHA", {"DH", "RSA", "3DES168", "SHA1", "True"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CipherProps* p = table.Find(c.name);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->kx, c.props.kx);
    EXPECT_EQ(p->auth, c.props.auth);
    EXPECT_EQ(p->enc, c.props.enc);
    EXPECT_EQ(p->mac, c.props.mac);
    EXPECT_EQ(p->pfs, c.props.pfs);
  }
  for (const char* skipped : {"SHORT-LINE", "DOUBLE-BLANK", "NO-EQUALS", ""}) {
    EXPECT_EQ(table.Find(skipped), nullptr) << skipped;
  }
  EXPECT_EQ(table.size(), 4u);

  CipherTable missing(dir_ + "/none");
  EXPECT_EQ(missing.Find("AES128-SHA"), nullptr);
  EXPECT_TRUE(missing.loaded());
}

TEST_F(LookupTest, MissingCountryDatabaseGivesUnknownAndReportsEveryAttempt) {
  CountryDb db(dir_ + "/GeoIP.dat");
  for (int attempt = 0; attempt < 2; ++attempt) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(db.get_country(0x08080808), "Unknown");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error opening GeoIP DB" + dir_ + "/GeoIP.dat\n");
  }
  CountryDb garbage(Write("bad.dat", "not a database"));
  EXPECT_EQ(garbage.get_country(0x08080808), "Unknown");
}

TEST(CountryDbTest, LooksUpTheInstalledDatabase) {
  const char* path = "/usr/share/GeoIP/GeoIP.dat";
  if (access(path, R_OK) != 0) GTEST_SKIP() << "no country database installed";
  CountryDb db(path);
  EXPECT_EQ(db.get_country(0x08080808), "USA");      // 8.8.8.8
  EXPECT_EQ(db.get_country(0x0A000001), "Unknown");  // 10.0.0.1, private
}

}  // namespace
}  // namespace kyv::infra::log
