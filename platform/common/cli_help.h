// --help for our programs: prints the usage text and the flags defined in the program's own
// sources (not the libraries' logging flags), then exits 0.
#pragma once

#include <string>
#include <vector>

namespace kyv {

// When argv holds --help, -help or -h: prints gflags' usage message and every flag whose
// defining file path contains one of `sources`, then exits with status 0. Otherwise returns.
void HandleHelpFlag(int argc, char** argv, const std::vector<std::string>& sources);

}  // namespace kyv
