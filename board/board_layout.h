// The status window's controls as designed: kind, place, size, start text,
// colours and tab position. The window is built from this table and the
// in-memory board takes its start values from it, so both begin alike.
// Positions and sizes are in twips (15 twips a pixel), relative to the
// control's container.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "board/status_board.h"

namespace quillport {

enum class ControlKind { kFrame, kLabel, kTextField, kButton, kPicture };
enum class Alignment { kLeft, kRight };

struct ControlSpec {
  std::string_view name;  // object name, "txt_Info(3)" for array members
  ControlKind kind;
  std::string_view container;  // empty: the window's client area; else a frame
  int left, top, width, height;
  std::string_view text;    // caption or start text
  std::optional<Rgb> back;  // nullopt: the window's default colour
  Alignment align = Alignment::kLeft;
  bool enabled = true;
  bool read_only = false;
  std::string_view tooltip = {};
  int tab_index = -1;  // -1: the control holds no tab position
};

// Client area of the window, in twips.
inline constexpr int kClientWidthTwips = 6300;
inline constexpr int kClientHeightTwips = 5100;
inline constexpr int kTwipsPerPixel = 15;

// Default background of text fields that set no colour of their own.
inline constexpr Rgb kDefaultFieldBack{255, 255, 255};

// Every control of the window, frames before the controls they hold.
std::span<const ControlSpec> WindowControls();

}  // namespace quillport
