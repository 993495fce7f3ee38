#include "deliver/command_line.h"

#include "deliver/delivery_failure.h"

namespace quillport {
namespace {

bool IsComponentChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '_';
}

[[noreturn]] void Usage(const std::string& why) {
  throw DeliveryFailure(EX_USAGE, why + " (see quillport-deliver --help)");
}

void AddGroups(std::string_view groups, CommandLine& command) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = groups.find(',', start);
    const std::string_view group = groups.substr(start, comma - start);
    if (!IsNewsgroupName(group)) Usage("bad newsgroup name \"" + std::string(group) + "\"");
    if (!command.newsgroups.empty()) command.newsgroups += ',';
    command.newsgroups += group;
    if (comma == std::string_view::npos) return;
    start = comma + 1;
  }
}

}  // namespace

bool IsNewsgroupName(std::string_view name) {
  bool component_empty = true;
  for (const char c : name) {
    if (c == '.') {
      if (component_empty) return false;
      component_empty = true;
    } else if (IsComponentChar(c)) {
      component_empty = false;
    } else {
      return false;
    }
  }
  return !component_empty;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine command;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= arguments.size()) Usage(argument + " needs the newsgroups");
      return arguments[++i];
    };
    if (argument == "-n" || argument == "--newsgroups") {
      AddGroups(value(), command);
    } else if (argument.starts_with("--newsgroups=")) {
      AddGroups(std::string_view(argument).substr(13), command);
    } else if (argument.starts_with("-n")) {
      AddGroups(std::string_view(argument).substr(2), command);
    } else if (argument == "--help" || argument == "-h") {
      command.help = true;
    } else if (argument == "--version") {
      command.version = true;
    } else {
      Usage("unexpected argument \"" + argument + "\"");
    }
  }
  return command;
}

}  // namespace quillport
