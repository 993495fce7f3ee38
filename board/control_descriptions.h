// What assistive technology (a screen reader, an accessibility test) is told
// of each control of the status window: a short name and a description of
// what it shows or does. Controls whose caption says it all (frames, the
// field labels) are named by their caption and are not listed here.
#pragma once

#include <optional>
#include <string_view>

namespace quillport {

struct ControlDescription {
  std::string_view name;         // the accessible name
  std::string_view description;  // the accessible description
};

// The description of the control with object name `control`; nothing for a
// control named by its caption.
std::optional<ControlDescription> DescribeControl(std::string_view control);

}  // namespace quillport
