// A news client that records what the relay hands it and answers from a
// script, for tests that need no server.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "news/news_client.h"

namespace quillport::testing {

class FakeNewsClient : public NewsClient {
 public:
  // Every call, in order: "Connect", "BeginArticle", "WriteText:<text>", ...
  std::vector<std::string> calls;
  // Pieces handed to WriteText, in order.
  std::vector<std::string> pieces;

  std::int16_t connect_status = 0;
  std::int16_t disconnect_status = 0;
  std::deque<std::int16_t> end_article_statuses;  // default 0 when empty
  // Failures of CommandText: number and text; none means accepted.
  std::optional<NewsError> command_failure;
  // Reply pieces ReceivedText returns after an accepted command; a
  // NewsError entry is thrown instead of returned.
  std::deque<std::variant<std::string, NewsError>> reply;
  // Runs at every WriteText, before the piece is taken, if set.
  std::function<void()> on_write;
  // Throws this from WriteText at the given piece (0-based), if set.
  std::optional<std::pair<std::size_t, NewsError>> write_failure;

  // Recorded as "Set:<id>:<type>:<value>", type bool, int16 or text.
  void SetSetting(NewsSetting setting, const NewsValue& value) override {
    settings_[setting] = value;
    std::string call = "Set:" + std::to_string(static_cast<int>(setting));
    if (const bool* flag = std::get_if<bool>(&value)) {
      call += std::string(":bool:") + (*flag ? "true" : "false");
    } else if (const std::int16_t* number = std::get_if<std::int16_t>(&value)) {
      call += ":int16:" + std::to_string(*number);
    } else {
      call += ":text:" + std::get<std::string>(value);
    }
    calls.push_back(call);
  }
  NewsValue Setting(NewsSetting setting) const override {
    const auto it = settings_.find(setting);
    if (it != settings_.end()) return it->second;
    if (setting == NewsSetting::kServerHost) return std::string("news.example");
    return std::string();
  }
  void SetErrorHandler(NewsErrorHandler handler) override { handler_ = std::move(handler); }

  std::int16_t Connect() override {
    calls.push_back("Connect");
    if (connect_status != 0) Fire(connect_status, "connection refused");
    return connect_status;
  }
  std::int16_t Disconnect() override {
    calls.push_back("Disconnect");
    return disconnect_status;
  }
  std::int16_t BeginArticle() override {
    calls.push_back("BeginArticle");
    return 0;
  }
  void WriteText(std::string_view text) override {
    if (text.size() > 32767) {
      calls.push_back("Dropped");
      throw NewsError(news_error::kOverflow, "overflow");
    }
    if (on_write) on_write();
    if (write_failure && write_failure->first == pieces.size()) {
      calls.push_back("Dropped");
      throw write_failure->second;
    }
    calls.push_back("WriteText");
    pieces.emplace_back(text);
  }
  std::int16_t EndArticle() override {
    calls.push_back("EndArticle");
    if (end_article_statuses.empty()) return 0;
    const std::int16_t status = end_article_statuses.front();
    end_article_statuses.pop_front();
    return status;
  }
  void AbandonArticle() override { calls.push_back("AbandonArticle"); }
  void CommandText(std::string_view line) override {
    calls.push_back("Command:" + std::string(line));
    if (command_failure) throw *command_failure;
  }
  std::string ReceivedText() override {
    calls.push_back("Received");
    if (reply.empty()) return {};
    auto next = reply.front();
    reply.pop_front();
    if (auto* error = std::get_if<NewsError>(&next)) throw *error;
    return std::get<std::string>(next);
  }
  bool Readable() const override { return !reply.empty(); }

  // Raises the error event, as the real client does with every failure.
  void Fire(std::int16_t number, const std::string& text) {
    if (handler_) handler_(number, text);
  }

 private:
  std::map<NewsSetting, NewsValue> settings_;
  NewsErrorHandler handler_;
};

}  // namespace quillport::testing
