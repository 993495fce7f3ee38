// A news client that only records what start-up does with it: each setting
// written, in order, with the type of the value, and the error handler, so a
// test can raise the error event.
#pragma once

#include <string>
#include <vector>

#include "news/news_client.h"

namespace quillport::testing {

class RecordingNewsClient : public NewsClient {
 public:
  struct Write {
    int id;
    std::string type;  // "bool", "int16" or "text"
    std::string value;
    friend bool operator==(const Write&, const Write&) = default;
  };
  std::vector<Write> writes;
  NewsErrorHandler handler;
  // When set, writing this setting throws NewsError(5, "setting refused").
  int refuse_id = -1;

  void SetSetting(NewsSetting setting, const NewsValue& value) override {
    const int id = static_cast<int>(setting);
    if (id == refuse_id) throw NewsError(5, "setting refused");
    if (const bool* flag = std::get_if<bool>(&value)) {
      writes.push_back({id, "bool", *flag ? "true" : "false"});
    } else if (const std::int16_t* number = std::get_if<std::int16_t>(&value)) {
      writes.push_back({id, "int16", std::to_string(*number)});
    } else {
      writes.push_back({id, "text", std::get<std::string>(value)});
    }
  }
  NewsValue Setting(NewsSetting) const override { return std::string(); }
  void SetErrorHandler(NewsErrorHandler on_error) override { handler = std::move(on_error); }
  std::int16_t Connect() override { return 0; }
  std::int16_t Disconnect() override { return 0; }
  std::int16_t BeginArticle() override { return 0; }
  void WriteText(std::string_view) override {}
  std::int16_t EndArticle() override { return 0; }
  void CommandText(std::string_view) override {}
  std::string ReceivedText() override { return {}; }
  bool Readable() const override { return false; }
};

}  // namespace quillport::testing
