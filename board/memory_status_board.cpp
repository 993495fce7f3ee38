#include "board/memory_status_board.h"

#include <stdexcept>
#include <utility>

#include "board/board_fields.h"
#include "board/board_layout.h"
#include "common/settings.h"

namespace quillport {

MemoryStatusBoard::MemoryStatusBoard() {
  controls_.emplace(field::kWindow, Control{std::string(settings::kDesignCaption), colour::kWindowBack, true});
  for (const ControlSpec& spec : WindowControls()) {
    controls_.emplace(std::string(spec.name),
                      Control{std::string(spec.text), spec.back.value_or(kDefaultFieldBack), true});
  }
}

const MemoryStatusBoard::Control& MemoryStatusBoard::At(std::string_view name) const {
  const auto it = controls_.find(name);
  if (it == controls_.end()) {
    throw std::out_of_range("the status board has no control " + std::string(name));
  }
  return it->second;
}

MemoryStatusBoard::Control& MemoryStatusBoard::At(std::string_view name) {
  return const_cast<Control&>(std::as_const(*this).At(name));
}

std::string MemoryStatusBoard::Text(std::string_view control) const { return At(control).text; }

void MemoryStatusBoard::SetText(std::string_view control, std::string_view text) {
  At(control).text = std::string(text);
}

Rgb MemoryStatusBoard::BackColor(std::string_view control) const { return At(control).back; }

void MemoryStatusBoard::SetBackColor(std::string_view control, Rgb colour) { At(control).back = colour; }

bool MemoryStatusBoard::Visible(std::string_view control) const { return At(control).visible; }

void MemoryStatusBoard::SetVisible(std::string_view control, bool visible) { At(control).visible = visible; }

}  // namespace quillport
