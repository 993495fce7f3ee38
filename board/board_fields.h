// Names of the status board's controls and the colours the relay paints.
#pragma once

#include <string>

#include "board/status_board.h"

namespace quillport::field {

inline constexpr char kWindow[] = "frm_Quillport";

inline constexpr char kTimPer[] = "txt_TIM_Per";
inline constexpr char kTimRem[] = "txt_TIM_Rem";
inline constexpr char kTimEla[] = "txt_TIM_Ela";
inline constexpr char kTimNbT[] = "txt_TIM_NbT";

inline constexpr char kErrorVol[] = "txt_Error_Vol";
inline constexpr char kErrorNb[] = "txt_Error_Nb";

inline constexpr char kStatusH[] = "lbl_StatusH";
inline constexpr char kStatusE[] = "lbl_StatusE";

inline constexpr char kImgGoo[] = "img_Goo";
inline constexpr char kImgBad[] = "img_Bad";
inline constexpr char kImgIco[] = "img_Ico";

// Member `index` of a control array: Indexed("txt_Info", 3) is "txt_Info(3)".
inline std::string Indexed(const char* array, int index) {
  return std::string(array) + "(" + std::to_string(index) + ")";
}
// txt_Info 3 to 12: file in progress (3, 4), this Action's totals (5 to 8),
// totals since start (9 to 12).
inline std::string Info(int index) { return Indexed("txt_Info", index); }
// txt_InfoK 0 to 3: the settings shown in the Constants frame.
inline std::string InfoK(int index) { return Indexed("txt_InfoK", index); }

}  // namespace quillport::field

namespace quillport::colour {

inline constexpr Rgb kIdle{255, 255, 0};         // file in progress: none
inline constexpr Rgb kFileGood{0, 255, 0};       // a non-empty file in progress
inline constexpr Rgb kFileEmpty{255, 0, 0};      // an empty file in progress
inline constexpr Rgb kGoodTotal{128, 255, 128};  // non-empty totals, timer figures
inline constexpr Rgb kBadTotal{255, 128, 128};   // empty-file totals
inline constexpr Rgb kRemaining{128, 128, 255};  // remaining minutes
inline constexpr Rgb kStatusLine{255, 192, 255};
inline constexpr Rgb kLabel{255, 255, 192};
inline constexpr Rgb kFrame{192, 255, 192};
inline constexpr Rgb kFrameCaption{255, 0, 255};
inline constexpr Rgb kWindowBack{192, 192, 255};
inline constexpr Rgb kButton{0, 0, 255};

}  // namespace quillport::colour
