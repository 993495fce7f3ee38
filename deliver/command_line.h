// The command line of quillport-deliver.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillport {

struct CommandLine {
  std::string newsgroups;  // comma-separated groups for -n; empty when not given
  bool help = false;
  bool version = false;
};

// True when `name` is a newsgroup name: dot-separated components of ASCII
// letters, digits, "+", "-" and "_", none of them empty.
bool IsNewsgroupName(std::string_view name);

// Reads the arguments (without the program name): -n GROUPS, -nGROUPS,
// --newsgroups GROUPS, --newsgroups=GROUPS (given more than once, the groups
// add up), --help, --version. Throws DeliveryFailure (EX_USAGE) for an
// unknown option, an operand, a missing value or a bad newsgroup name.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace quillport
