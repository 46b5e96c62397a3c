#include "tools/vcmgr_sim/options.h"

#include <algorithm>
#include <functional>
#include <sstream>

namespace vcmgr_sim {

namespace {

// One flag: its name, what its value looks like ("" for a boolean), its help line, and how it
// is stored (false with a message for a bad value).
struct Flag {
  const char* name;
  const char* value;
  const char* help;
  std::function<bool(const std::string&, Options*, std::string*)> set;
};

bool ParseInt(const std::string& text, long min, long max, long* out) {
  if (text.empty() || text.size() > 12) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < min || v > max) return false;
  *out = v;
  return true;
}

// A setter for an integer field within [min, max].
std::function<bool(const std::string&, Options*, std::string*)> IntFlag(int Options::*field, long min, long max) {
  return [field, min, max](const std::string& v, Options* o, std::string* err) {
    long n = 0;
    if (!ParseInt(v, min, max, &n)) {
      *err = "needs a whole number from " + std::to_string(min) + " to " + std::to_string(max) + ", not '" + v + "'";
      return false;
    }
    o->*field = static_cast<int>(n);
    return true;
  };
}

std::function<bool(const std::string&, Options*, std::string*)> BoolFlag(bool Options::*field) {
  return [field](const std::string& v, Options* o, std::string* err) {
    if (v == "true" || v == "1") {
      o->*field = true;
    } else if (v == "false" || v == "0") {
      o->*field = false;
    } else {
      *err = "takes true or false, not '" + v + "'";
      return false;
    }
    return true;
  };
}

std::function<bool(const std::string&, Options*, std::string*)> TextFlag(std::string Options::*field,
                                                                         bool allow_empty) {
  return [field, allow_empty](const std::string& v, Options* o, std::string* err) {
    if (v.empty() && !allow_empty) {
      *err = "needs a value";
      return false;
    }
    o->*field = v;
    return true;
  };
}

const std::vector<Flag>& Flags() {
  static const std::vector<Flag> flags = {
      {"port", "N", "TCP port to serve on, on 127.0.0.1 (0 picks a free one). Default 5007.",
       IntFlag(&Options::port, 0, 65535)},
      {"inventory", "PATH", "Inventory file (JSON) to serve. SIGUSR1 reads it again and reports the differences.",
       TextFlag(&Options::inventory_path, false)},
      {"generate", "SIZES",
       "Serve a generated inventory instead: hosts=N,clusters=N,vms=N,pgs=N,nics=N,seed=N, any subset "
       "(defaults 4, one per 32 hosts, 10, 4, 1, 1).",
       [](const std::string& v, Options* o, std::string* err) {
         o->generate = true;
         return ParseGenerateSizes(v, &o->generate_sizes, err);
       }},
      {"notify_host", "HOST", "Host of the connector's notification port. Default 127.0.0.1.",
       TextFlag(&Options::notify_host, false)},
      {"notify_port", "N", "The connector's notification port. Default 5008.", IntFlag(&Options::notify_port, 1, 65535)},
      {"batch_size", "N", "Objects per resynchronisation batch. Default 500.", IntFlag(&Options::batch_size, 1, 100000)},
      {"notify_window", "N", "Notification calls awaiting their answer at most. Default 8.",
       IntFlag(&Options::notify_window, 1, 1024)},
      {"latency_ms", "N", "Delay before each call is served, in milliseconds. Default 0.",
       IntFlag(&Options::latency_ms, 0, 3600000)},
      {"drop_after", "N",
       "Close the connection after every N calls served; the next call is lost (0: never). Default 0.",
       IntFlag(&Options::drop_after, 0, 1000000000)},
      {"no_answer", "", "Serve calls but never send their answers.", BoolFlag(&Options::no_answer)},
      {"vcenter_url", "URL", "Replace the inventory's vCenter address (empty: accept any).",
       [](const std::string& v, Options* o, std::string*) {
         o->set_vcenter_url = true;
         o->vcenter_url = v;
         return true;
       }},
      {"vcenter_user", "NAME", "Replace the inventory's vCenter user name.", TextFlag(&Options::vcenter_user, false)},
      {"vcenter_password", "TEXT", "Replace the inventory's vCenter password.",
       TextFlag(&Options::vcenter_password, false)},
      {"print_stats", "", "Print the inventory's object counts and the time taken to build it.",
       BoolFlag(&Options::print_stats)},
      {"dry_run", "", "Build and check the inventory, print its statistics, and exit without serving.",
       BoolFlag(&Options::dry_run)},
      {"dump_inventory", "PATH", "Write the inventory as JSON to PATH (e.g. a generated one).",
       TextFlag(&Options::dump_inventory, false)},
      {"v", "N", "Verbose log level (log lines go to stderr). Default 0.", IntFlag(&Options::verbosity, 0, 9)},
  };
  return flags;
}

}  // namespace

ParseResult ParseOptions(const std::vector<std::string>& args, Options* out, std::string* error) {
  Options opts;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "-help") return ParseResult::kHelp;
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      *error = "unexpected argument '" + arg + "'";
      return ParseResult::kError;
    }
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const Flag* flag = nullptr;
    for (const Flag& f : Flags()) {
      if (name == f.name) flag = &f;
    }
    if (!flag) {
      *error = "unknown flag --" + name;
      return ParseResult::kError;
    }
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (*flag->value == '\0') {
      value = "true";
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      *error = "--" + name + " needs a value";
      return ParseResult::kError;
    }
    std::string why;
    if (!flag->set(value, &opts, &why)) {
      // The generator's messages already name their flag.
      *error = why.compare(0, 2, "--") == 0 ? why : "--" + name + " " + why;
      return ParseResult::kError;
    }
  }
  if (opts.generate == !opts.inventory_path.empty()) {
    *error = opts.generate ? "give --inventory or --generate, not both"
                           : "give --inventory=PATH or --generate=SIZES (see --help)";
    return ParseResult::kError;
  }
  *out = opts;
  return ParseResult::kRun;
}

std::string UsageText() {
  std::ostringstream out;
  out << "Usage: vcmgr-sim (--inventory=PATH | --generate=SIZES) [flags]\n\n"
         "Simulates the vCenter manager: serves vCenterMgrService on a TCP port from an inventory,\n"
         "sends VM, resource and connection notifications to the connector's notification port,\n"
         "and acts on SE VM requests and injected faults. Prints \"vcmgr-sim ready port=N\" once\n"
         "listening; exits 0 on SIGINT or SIGTERM; SIGUSR1 reloads --inventory.\n\nFlags:\n";
  const size_t indent = 26, width = 100;
  for (const Flag& f : Flags()) {
    std::string line = std::string("  --") + f.name + (*f.value ? std::string("=") + f.value : "");
    line.resize(std::max(line.size() + 1, indent), ' ');
    // Word-wrap the help text into the column.
    std::istringstream words(f.help);
    std::string word;
    bool first = true;
    while (words >> word) {
      if (!first && line.size() + 1 + word.size() > width) {
        out << line << "\n";
        line = std::string(indent, ' ');
        first = true;
      }
      line += (first ? "" : " ") + word;
      first = false;
    }
    out << line << "\n";
  }
  out << "  --help                  This text.\n";
  return out.str();
}

}  // namespace vcmgr_sim
