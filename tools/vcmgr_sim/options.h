// Command line of vcmgr-sim.
#pragma once

#include <string>
#include <vector>

#include "tools/vcmgr_sim/generator.h"

namespace vcmgr_sim {

// Every setting the command line can give, with its default.
struct Options {
  int port = 5007;
  std::string inventory_path;
  bool generate = false;
  GenerateSizes generate_sizes;
  std::string notify_host = "127.0.0.1";
  int notify_port = 5008;
  int batch_size = 500;
  int notify_window = 8;
  int latency_ms = 0;
  int drop_after = 0;
  bool no_answer = false;
  bool print_stats = false;
  bool dry_run = false;
  std::string dump_inventory;
  // Replace the inventory's account when set.
  bool set_vcenter_url = false;
  std::string vcenter_url;
  std::string vcenter_user;
  std::string vcenter_password;
  int verbosity = 0;
};

enum class ParseResult { kRun, kHelp, kError };

// Parses the arguments after the program name. Flags are "--name=value" or "--name value";
// boolean flags are "--name", "--name=true" or "--name=false". kHelp for --help or -h;
// kError with `*error` naming the flag for an unknown flag, a missing or malformed value, a
// value out of range, a stray argument, or neither or both of --inventory and --generate.
ParseResult ParseOptions(const std::vector<std::string>& args, Options* out, std::string* error);

// The --help text: what the program does and every flag with its meaning and default.
std::string UsageText();

}  // namespace vcmgr_sim
