// How a failure that ends an operator's request is put into words.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "common/printable_text.h"
#include "news/news_error.h"

namespace quillport {

// The text shown for a failure of `handler` (the request that ran into it,
// such as "Tick" or "Refresh"): "<handler> failed: <what>", with the error
// number in brackets for a news client error.
inline std::string FailureText(std::string_view handler, const std::exception& failure) {
  std::string text = std::string(handler) + " failed: " + Printable(failure.what());
  if (const auto* news = dynamic_cast<const NewsError*>(&failure)) {
    text += " (" + std::to_string(news->number()) + ")";
  }
  return text;
}

}  // namespace quillport
