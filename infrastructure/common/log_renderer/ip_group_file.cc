#include "infrastructure/common/log_renderer/ip_group_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <limits>

namespace kyv::infra::log {

IpGroupFileRead ReadIpAddrGroupFile(const std::string& path, ip_table_group* table) {
  IpGroupFileRead result;
  table->clear_ipg();
  std::ifstream in;
  struct stat st {};
  // Only regular files: a directory "opens" but reads nothing; a NUL would name another file.
  if (path.find('\0') == std::string::npos && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    in.open(path, std::ios::in | std::ios::binary);
  }
  if (!in.is_open()) {
    std::cerr << "Unable to open IP address groups file" << std::endl;
    return result;
  }
  result.opened = true;
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  uint64_t pos = 0;
  std::string bytes;
  IpAddrGroup group;
  while (pos + 4 <= size) {
    unsigned char prefix[4];
    if (!in.read(reinterpret_cast<char*>(prefix), 4)) break;  // the file shrank meanwhile
    const uint32_t length = (uint32_t{prefix[0]} << 24) | (uint32_t{prefix[1]} << 16) |
                            (uint32_t{prefix[2]} << 8) | prefix[3];
    // Never ask for more than the file holds: a bad length must not allocate gigabytes.
    const uint64_t available = size - pos - 4;
    bytes.resize(static_cast<size_t>(std::min<uint64_t>(length, available)));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const uint64_t got = static_cast<uint64_t>(in.gcount());
    if (got < length) {
      std::cerr << "Error when getting IPAddrGroup from protobuf file length:" << got << " .   "
                << length << std::endl;
      result.truncated = true;
      break;
    }
    if (bytes.size() <= static_cast<size_t>(std::numeric_limits<int>::max()) &&
        group.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
      table->set_group(group);
      ++result.groups;
    } else {
      std::cerr << "Skipping an IP address group record that does not parse at offset " << pos
                << std::endl;
      ++result.skipped;
    }
    pos += 4 + length;
  }
  table->rebuild();
  return result;
}

}  // namespace kyv::infra::log
