// A status board kept in memory, starting from the window's design values.
// The relay engine's tests run against it; it behaves like the window: an
// unknown control name throws std::out_of_range.
#pragma once

#include <map>
#include <string>

#include "board/status_board.h"

namespace quillport {

class MemoryStatusBoard : public StatusBoard {
 public:
  MemoryStatusBoard();

  std::string Text(std::string_view control) const override;
  void SetText(std::string_view control, std::string_view text) override;
  Rgb BackColor(std::string_view control) const override;
  void SetBackColor(std::string_view control, Rgb colour) override;
  bool Visible(std::string_view control) const override;
  void SetVisible(std::string_view control, bool visible) override;
  int MousePointer() const override { return pointer_; }
  void SetMousePointer(int code) override { pointer_ = code; }
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  struct Control {
    std::string text;
    Rgb back;
    bool visible = true;
  };
  const Control& At(std::string_view name) const;
  Control& At(std::string_view name);

  std::map<std::string, Control, std::less<>> controls_;
  int pointer_ = kPointerDefault;
  bool enabled_ = true;
};

}  // namespace quillport
