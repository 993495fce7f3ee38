// A news client that records what it is handed and answers from a script, for tests that need no server.
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
  std::vector<std::string> calls;            // every call in order: "Connect", "BeginArticle", "WriteText", ...
  std::vector<std::string> pieces;           // the pieces handed to WriteText
  std::optional<NewsError> command_failure;  // thrown by CommandText when set
  // What ReceivedText returns after an accepted command, piece by piece; a NewsError is thrown.
  std::deque<std::variant<std::string, NewsError>> reply;
  std::function<void()> on_write;  // runs at every WriteText, before the piece is taken

  void SetSetting(NewsSetting setting, const NewsValue& value) override { settings_[setting] = value; }
  NewsValue Setting(NewsSetting setting) const override {
    const auto it = settings_.find(setting);
    if (it != settings_.end()) return it->second;
    return std::string(setting == NewsSetting::kServerHost ? "news.example" : "");
  }
  void SetErrorHandler(NewsErrorHandler handler) override { handler_ = std::move(handler); }
  std::int16_t Connect() override { return Call("Connect"); }
  std::int16_t Disconnect() override { return Call("Disconnect"); }
  std::int16_t BeginArticle() override { return Call("BeginArticle"); }
  void WriteText(std::string_view text) override {
    if (text.size() > 32767) throw NewsError(news_error::kOverflow, "overflow");  // as the real client
    if (on_write) on_write();
    Call("WriteText");
    pieces.emplace_back(text);
  }
  std::int16_t EndArticle() override { return Call("EndArticle"); }
  void AbandonArticle() override { Call("AbandonArticle"); }
  void CommandText(std::string_view line) override {
    Call("Command:" + std::string(line));
    if (command_failure) throw *command_failure;
  }
  std::string ReceivedText() override {
    Call("Received");
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
  std::int16_t Call(std::string name) {
    calls.push_back(std::move(name));
    return 0;
  }
  std::map<NewsSetting, NewsValue> settings_;
  NewsErrorHandler handler_;
};

}  // namespace quillport::testing
