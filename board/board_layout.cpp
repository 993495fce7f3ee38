#include "board/board_layout.h"

#include <array>

#include "board/board_fields.h"

namespace quillport {
namespace {

using K = ControlKind;
using A = Alignment;
constexpr std::optional<Rgb> kNoBack = std::nullopt;

constexpr char kTipPer[] = "Periodicity Between Actions (minutes)";
constexpr char kTipRem[] = "Remaining Time before Next Action (minutes) (double-Click for immediate Action)";
constexpr char kTipEla[] = "Elapsed Time since Program Started (minutes)";
constexpr char kTipNbT[] = "Number of Times Action was Processed";

// A label with the shared label style.
constexpr ControlSpec Label(std::string_view name, std::string_view frame, int left, int top, int width,
                            std::string_view caption, int tab) {
  return {name, K::kLabel, frame, left, top, width, 255, caption, colour::kLabel, A::kLeft, true, false, {}, tab};
}

// A disabled, read-only text field of the Constants, File in Progress,
// Totals or Errors frame.
constexpr ControlSpec Shown(std::string_view name, std::string_view frame, int left, int top, int width,
                            std::string_view text, std::optional<Rgb> back, A align, int tab) {
  return {name, K::kTextField, frame, left, top, width, 285, text, back, align, false, true, {}, tab};
}

constexpr ControlSpec Frame(std::string_view name, int left, int top, int width, int height, std::string_view caption,
                            int tab) {
  return {name, K::kFrame, {}, left, top, width, height, caption, colour::kFrame, A::kLeft, true, false, {}, tab};
}

constexpr ControlSpec Button(std::string_view name, int left, std::string_view caption, int tab) {
  return {name, K::kButton, "FrameE", left, 240, 615, 255, caption, colour::kButton, A::kLeft, true, false, {}, tab};
}

constexpr ControlSpec Picture(std::string_view name, int top, int size) {
  return {name, K::kPicture, {}, 5760, top, size, size, {}, kNoBack, A::kLeft, true, false, {}, -1};
}

constexpr std::array kControls{
    Frame("FrameK", 120, 120, 3615, 1695, "Constants", 22),
    Frame("FrameT", 3840, 120, 1815, 1695, "Timer", 6),
    Picture("img_Goo", 120, 480),
    Picture("img_Bad", 720, 480),
    Picture("img_Ico", 1320, 495),
    Frame("FrameP", 120, 1920, 6135, 615, "File in Progress", 28),
    Frame("FrameR", 120, 2640, 6135, 975, "Totals", 29),
    ControlSpec{
        "lbl_StatusH", K::kLabel, {}, 120, 3720, 6135, 255, "", colour::kStatusLine, A::kLeft, true, false, {}, 32},
    ControlSpec{
        "lbl_StatusE", K::kLabel, {}, 120, 4080, 6135, 255, "", colour::kStatusLine, A::kLeft, true, false, {}, 33},
    Frame("FrameE", 120, 4440, 6135, 615, "Errors", 34),

    // Constants
    Label("lbl_InfoK(0)", "FrameK", 120, 240, 975, "Source Path:", 26),
    Label("lbl_InfoK(1)", "FrameK", 120, 600, 975, "NNTP:", 25),
    Label("lbl_InfoK(2)", "FrameK", 120, 960, 975, "Source Files:", 24),
    Label("lbl_InfoK(3)", "FrameK", 120, 1320, 975, "Log File:", 23),
    Shown("txt_InfoK(0)", "FrameK", 1200, 240, 2295, "", kNoBack, A::kLeft, 0),
    Shown("txt_InfoK(1)", "FrameK", 1200, 600, 2295, "", kNoBack, A::kLeft, 1),
    Shown("txt_InfoK(2)", "FrameK", 1200, 960, 2295, "", kNoBack, A::kLeft, 2),
    Shown("txt_InfoK(3)", "FrameK", 1200, 1320, 2295, "", kNoBack, A::kLeft, 3),

    // Timer
    Label("lbl_TIM_Per", "FrameT", 120, 240, 975, "Periodicity:", 19),
    Label("lbl_TIM_Rem", "FrameT", 120, 600, 975, "Remaining:", 20),
    Label("lbl_TIM_Ela", "FrameT", 120, 960, 975, "Elapsed:", 21),
    Label("lbl_TIM_NbT", "FrameT", 120, 1320, 975, "NbTimes:", 27),
    ControlSpec{"txt_TIM_Per", K::kTextField, "FrameT", 1200, 240, 495, 285, "2", kNoBack, A::kRight, true, false,
                kTipPer, 4},
    ControlSpec{"txt_TIM_Rem", K::kTextField, "FrameT", 1200, 600, 495, 285, "1", colour::kRemaining, A::kRight, true,
                false, kTipRem, 5},
    ControlSpec{"txt_TIM_Ela", K::kTextField, "FrameT", 1200, 960, 495, 285, "0", colour::kGoodTotal, A::kRight, true,
                true, kTipEla, 7},
    ControlSpec{"txt_TIM_NbT", K::kTextField, "FrameT", 1200, 1320, 495, 285, "0", colour::kGoodTotal, A::kRight, true,
                true, kTipNbT, 8},

    // File in Progress
    Shown("txt_Info(3)", "FrameP", 120, 240, 4695, "", colour::kIdle, A::kLeft, 9),
    Shown("txt_Info(4)", "FrameP", 4920, 240, 1095, "0", colour::kIdle, A::kRight, 10),

    // Totals
    Label("lbl_Info(4)", "FrameR", 120, 240, 1575, "Totals (Size / Nbr):", 31),
    Label("lbl_Info(5)", "FrameR", 120, 600, 1575, "GdTotals (Size / Nbr):", 30),
    Shown("txt_Info(5)", "FrameR", 1800, 240, 1095, "0", colour::kGoodTotal, A::kRight, 11),
    Shown("txt_Info(6)", "FrameR", 3000, 240, 855, "0", colour::kGoodTotal, A::kRight, 12),
    Shown("txt_Info(7)", "FrameR", 3960, 240, 1095, "0", colour::kBadTotal, A::kRight, 13),
    Shown("txt_Info(8)", "FrameR", 5160, 240, 855, "0", colour::kBadTotal, A::kRight, 14),
    Shown("txt_Info(9)", "FrameR", 1800, 600, 1095, "0", colour::kGoodTotal, A::kRight, 15),
    Shown("txt_Info(10)", "FrameR", 3000, 600, 855, "0", colour::kGoodTotal, A::kRight, 16),
    Shown("txt_Info(11)", "FrameR", 3960, 600, 1095, "0", colour::kBadTotal, A::kRight, 17),
    Shown("txt_Info(12)", "FrameR", 5160, 600, 855, "0", colour::kBadTotal, A::kRight, 18),

    // Errors
    Label("lbl_Error(0)", "FrameE", 120, 240, 1575, "GdTotals (Size / Nbr):", 37),
    Shown("txt_Error_Vol", "FrameE", 1800, 240, 1095, "0", colour::kGoodTotal, A::kRight, 36),
    Shown("txt_Error_Nb", "FrameE", 3000, 240, 855, "0", colour::kGoodTotal, A::kRight, 35),
    Button("cmd_REFRESH", 3960, "FRESH", 40),
    Button("cmd_PURGE", 4680, "PURGE", 39),
    Button("cmd_VIEW", 5400, "VIEW", 38),
};

}  // namespace

std::span<const ControlSpec> WindowControls() { return kControls; }

}  // namespace quillport
