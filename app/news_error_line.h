// The news client's error event on the status board: the error line
// (lbl_StatusE) takes the text "<description> (<number>)". Whether the line
// is shown is left as it is; the connection steps decide that.
#pragma once

#include <cstdint>
#include <string>

#include "app/status_board.h"
#include "news/news_client.h"

namespace quillport {

std::string NewsErrorText(std::int16_t number, const std::string& description);

// From now on every error `news` reports is written to `board`'s error line.
void ShowNewsErrors(NewsClient& news, StatusBoard& board);

}  // namespace quillport
