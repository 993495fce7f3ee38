#include "app/news_error_line.h"

#include "app/board_fields.h"

namespace quillport {

std::string NewsErrorText(std::int16_t number, const std::string& description) {
  return description + " (" + std::to_string(number) + ")";
}

void ShowNewsErrors(NewsClient& news, StatusBoard& board) {
  news.SetErrorHandler([&board](std::int16_t number, const std::string& description) {
    board.SetText(field::kStatusE, NewsErrorText(number, description));
  });
}

}  // namespace quillport
