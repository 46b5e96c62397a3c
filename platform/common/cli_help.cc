#include "platform/common/cli_help.h"

#include <gflags/gflags.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace kyv {

void HandleHelpFlag(int argc, char** argv, const std::vector<std::string>& sources) {
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-help") || !strcmp(argv[i], "-h")) {
      help = true;
    }
  }
  if (!help) return;
  const char* slash = strrchr(argv[0], '/');
  std::cout << (slash != nullptr ? slash + 1 : argv[0]) << ": " << gflags::ProgramUsage()
            << "\n\nFlags:\n";
  std::vector<gflags::CommandLineFlagInfo> flags;
  gflags::GetAllFlags(&flags);
  for (const auto& f : flags) {
    bool ours = false;
    for (const auto& s : sources) ours = ours || f.filename.find(s) != std::string::npos;
    if (!ours) continue;
    std::cout << "  --" << f.name << " (" << f.type << ", default \"" << f.default_value << "\")\n"
              << "      " << f.description << "\n";
  }
  std::cout << "  --v=N  verbose logging (2 shows the connector's trace lines)\n";
  std::exit(0);
}

}  // namespace kyv
