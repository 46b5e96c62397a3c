// Reading the exported IP address group file into the group table.
#include "infrastructure/common/log_renderer/ip_group_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace kyv::infra::log {
namespace {

std::string Record(const std::string& bytes) {
  const uint32_t n = static_cast<uint32_t>(bytes.size());
  std::string out = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                     static_cast<char>(n >> 8), static_cast<char>(n)};
  return out + bytes;
}

std::string GroupRecord(const std::string& uuid, const std::string& tenant, const std::string& addr,
                        const std::string& name) {
  IpAddrGroup g;
  g.set_uuid(uuid);
  g.set_name(name);
  g.set_tenant_uuid(tenant);
  g.add_addrs()->set_addr(addr);
  return Record(g.SerializeAsString());
}

class IpGroupFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "ipgroups_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/ip_address_groups_proto";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  IpGroupFileRead Read(const std::string& contents, std::string* err) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << contents;
    ::testing::internal::CaptureStderr();
    const IpGroupFileRead read = ReadIpAddrGroupFile(path_, &table_);
    *err = ::testing::internal::GetCapturedStderr();
    return read;
  }

  std::string dir_;
  std::string path_;
  ip_table_group table_;
};

TEST_F(IpGroupFileTest, LaterRecordWithTheSameUuidReplacesTheEarlier) {
  std::string err;
  const IpGroupFileRead read = Read(GroupRecord("g1", "admin", "10.0.0.1", "first") +
                                        GroupRecord("g2", "t", "10.0.0.2", "other") +
                                        GroupRecord("g1", "admin", "10.0.0.3", "second"),
                                    &err);
  EXPECT_EQ(err, "");
  EXPECT_EQ(read.groups, 3u);
  EXPECT_EQ(table_.get_ipaddrgroup("10.0.0.1", {"admin"}), "");
  EXPECT_EQ(table_.get_ipaddrgroup("10.0.0.3", {"admin"}), "second");
  EXPECT_EQ(table_.get_ipaddrgroup("10.0.0.2", {"admin", "t"}), "other");
}

TEST_F(IpGroupFileTest, TruncatedRecordEndsTheReadAndKeepsWhatCameBefore) {
  const std::string last = GroupRecord("g2", "admin", "10.0.0.2", "two");
  std::string err;
  // The last record is cut 3 bytes short of its length.
  const IpGroupFileRead read =
      Read(GroupRecord("g1", "admin", "10.0.0.1", "one") + last.substr(0, last.size() - 3), &err);
  EXPECT_EQ(err, "Error when getting IPAddrGroup from protobuf file length:" +
                     std::to_string(last.size() - 7) + " .   " + std::to_string(last.size() - 4) +
                     "\n");
  EXPECT_TRUE(read.truncated);
  EXPECT_EQ(table_.get_ipaddrgroup("10.0.0.1", {"admin"}), "one");
  EXPECT_EQ(table_.get_ipaddrgroup("10.0.0.2", {"admin"}), "");

  // A length far beyond the file is a short read too (and allocates nothing near it).
  Read(std::string("\xff\xff\xff\xf0"
                   "abc",
                   7),
       &err);
  EXPECT_EQ(err, "Error when getting IPAddrGroup from protobuf file length:3 .   4294967280\n");
  EXPECT_TRUE(table_.is_empty());

  // Fewer than four bytes left: nothing more to read, no line.
  Read(GroupRecord("g1", "admin", "10.0.0.1", "one") + "ab", &err);
  EXPECT_EQ(err, "");
  EXPECT_EQ(table_.get_ipaddrgroup("10.0.0.1", {"admin"}), "one");
}

TEST_F(IpGroupFileTest, UnparsableRecordIsSkipped) {
  std::string err;
  const IpGroupFileRead read =
      Read(Record("\xff\xff\xff") + GroupRecord("g1", "admin", "10.0.0.1", "one"), &err);
  EXPECT_EQ(err, "Skipping an IP address group record that does not parse at offset 0\n");
  EXPECT_EQ(read.skipped, 1u);
  EXPECT_EQ(table_.get_ipaddrgroup("10.0.0.1", {"admin"}), "one");
}

TEST_F(IpGroupFileTest, MissingFileLeavesTheTableEmpty) {
  std::string err;
  Read(GroupRecord("g1", "admin", "10.0.0.1", "one"), &err);
  ASSERT_FALSE(table_.is_empty());
  for (const std::string& path : {dir_ + "/none", dir_}) {
    ::testing::internal::CaptureStderr();
    const IpGroupFileRead read = ReadIpAddrGroupFile(path, &table_);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unable to open IP address groups file\n");
    EXPECT_FALSE(read.opened);
    EXPECT_TRUE(table_.is_empty());
  }
  Read("", &err);  // an empty file: no group, no line
  EXPECT_EQ(err, "");
  EXPECT_TRUE(table_.is_empty());
}

}  // namespace
}  // namespace kyv::infra::log
