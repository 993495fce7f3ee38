// The status board: every value the operator sees, and every counter the
// relay keeps, held only as the texts, colours and visibility of the
// window's controls. Controls are addressed by their names; members of a
// control array carry their index in the name, "txt_Info(3)".
//
// This header is plain C++ so the relay engine can drive the board without
// a windowing toolkit. The window implements it; MemoryStatusBoard keeps the
// same state in memory for tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillport {

// A background colour, each component 0 to 255.
struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Mouse pointer codes of the window.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

class StatusBoard {
 public:
  virtual ~StatusBoard() = default;

  // Text of a text field, or caption of a label. The window's own caption is
  // addressed as "frm_Quillport". Throws std::out_of_range for a name the
  // board does not have.
  virtual std::string Text(std::string_view control) const = 0;
  virtual void SetText(std::string_view control, std::string_view text) = 0;

  // Background colour of a text field or label.
  virtual Rgb BackColor(std::string_view control) const = 0;
  virtual void SetBackColor(std::string_view control, Rgb colour) = 0;

  // Whether a label or picture is shown.
  virtual bool Visible(std::string_view control) const = 0;
  virtual void SetVisible(std::string_view control, bool visible) = 0;

  // The window's pointer code (kPointerDefault or kPointerHourglass).
  virtual int MousePointer() const = 0;
  virtual void SetMousePointer(int code) = 0;

  // Whether the window takes operator input.
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

}  // namespace quillport
