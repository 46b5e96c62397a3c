// What a parse of a user-agent string yields: the browser (or other client), the operating
// system and the device, each named by family as the pattern file names them.
#pragma once

#include <string>

namespace uap_cpp {

// The family every part has when no pattern names it.
inline constexpr char kOtherFamily[] = "Other";

// A browser or an operating system: its family and up to four version components. Components
// that the matching pattern does not give are empty.
struct Agent {
  std::string family = kOtherFamily;
  std::string major;
  std::string minor;
  std::string patch;
  std::string patch_minor;

  // The non-empty leading components joined with "." ("17.1.2"); "" when there is no major.
  std::string version() const;
  bool operator==(const Agent& other) const;
};

// A device: its family ("iPhone", "Samsung SM-S918B", "Spider") and, when the pattern gives
// them, its brand and model.
struct Device {
  std::string family = kOtherFamily;
  std::string brand;
  std::string model;

  bool operator==(const Device& other) const;
};

// The result of UserAgentParser::parse. A default-constructed value is the answer for a user
// agent that no pattern recognises: every family "Other", everything else empty.
struct UserAgent {
  Device device;
  Agent os;
  Agent browser;

  bool operator==(const UserAgent& other) const;
};

}  // namespace uap_cpp
