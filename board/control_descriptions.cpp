#include "board/control_descriptions.h"

#include <array>
#include <utility>

namespace quillport {
namespace {

constexpr std::array<std::pair<std::string_view, ControlDescription>, 28> kDescriptions = {{
    {"txt_InfoK(0)", {"Drop folder", "The folder the relay takes message files from"}},
    {"txt_InfoK(1)", {"News server", "The news server the relay posts to"}},
    {"txt_InfoK(2)", {"Message pattern", "The names of the files the relay takes for messages"}},
    {"txt_InfoK(3)", {"Log file", "The file that gets one record per message"}},
    {"txt_TIM_Per", {"Periodicity", "Minutes between Actions; a number, fractions and 0 or less allowed"}},
    {"txt_TIM_Rem",
     {"Remaining", "Minutes before the next Action; Enter, F5 or a double-click runs an Action at once"}},
    {"txt_TIM_Ela", {"Elapsed", "Minutes since the program started"}},
    {"txt_TIM_NbT", {"Number of Actions", "How many Actions have run"}},
    {"txt_Info(3)", {"File in progress", "The message file being handled; green posting, red empty, yellow idle"}},
    {"txt_Info(4)", {"Size of the file in progress", "Its size in bytes"}},
    {"txt_Info(5)", {"Bytes posted, last Action", "Bytes of the messages the last Action handled"}},
    {"txt_Info(6)", {"Messages, last Action", "Messages the last Action handled"}},
    {"txt_Info(7)", {"Bytes of empty files, last Action", "Always 0: empty files have no bytes"}},
    {"txt_Info(8)", {"Empty files, last Action", "Empty message files the last Action met and left"}},
    {"txt_Info(9)", {"Bytes posted since start", "Bytes of the messages handled since the program started"}},
    {"txt_Info(10)", {"Messages since start", "Messages handled since the program started"}},
    {"txt_Info(11)", {"Bytes of empty files since start", "Always 0: empty files have no bytes"}},
    {"txt_Info(12)", {"Empty files since start", "Empty message files met since the program started"}},
    {"txt_Error_Vol", {"Bytes in the error folder", "Bytes of the messages waiting in the error folder"}},
    {"txt_Error_Nb", {"Messages in the error folder", "Messages waiting in the error folder"}},
    {"lbl_StatusH", {"Connection status", "The connection to the news server"}},
    {"lbl_StatusE", {"Last error", "The last failure; hidden after a success"}},
    {"cmd_REFRESH", {"Fresh", "Counts the messages in the error folder again"}},
    {"cmd_PURGE", {"Purge", "Deletes every message file in the error folder, without asking"}},
    {"cmd_VIEW", {"View", "Opens the error folder in the file browser"}},
    {"img_Goo", {"Messages handled", "Shown once a message has been handled since start"}},
    {"img_Bad", {"Empty file met", "Shown once an empty message file was met since start"}},
    {"img_Ico", {"Quillport", "The program's icon"}},
}};

}  // namespace

std::optional<ControlDescription> DescribeControl(std::string_view control) {
  for (const auto& [name, description] : kDescriptions) {
    if (name == control) return description;
  }
  return std::nullopt;
}

}  // namespace quillport
