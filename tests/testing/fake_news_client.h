// A news client that records what it is handed and answers as a test scripts it, for tests that need no
// server: every call is accepted (a HEAD finds the article held) unless a scripted answer says otherwise.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "news/news_client.h"

namespace quillport::testing {

class FakeNewsClient : public NewsClient {
 public:
  std::vector<std::string> calls;   // every call in order: "Connect", "BeginArticle", "WriteText", ...
  std::vector<std::string> pieces;  // the pieces handed to WriteText
  std::function<void()> on_write;   // runs at every WriteText, before the piece is taken

  // The next call whose name (as `calls` records it) starts with `call` is refused with `code`, or, with
  // kFailure, fails as a lost connection does; each scripted answer is used once, in the order given.
  static constexpr std::int16_t kFailure = -1;
  void Answer(std::string call, std::int16_t code) { script_.emplace_back(std::move(call), code); }

  FakeNewsClient() { options_.host = "news.example"; }
  void Configure(const NewsOptions& options) override { options_ = options; }
  const NewsOptions& options() const override { return options_; }
  std::optional<Refusal> Connect() override { return Call("Connect"); }
  std::optional<Refusal> Disconnect() override { return Call("Disconnect"); }
  std::optional<Refusal> BeginArticle() override { return Call("BeginArticle"); }
  void WriteText(std::string_view text) override {
    if (text.size() > 32767) throw NewsError(news_error::kOverflow, "overflow");  // as the real client
    if (on_write) on_write();
    Call("WriteText");
    pieces.emplace_back(text);
  }
  std::optional<Refusal> EndArticle() override { return Call("EndArticle"); }
  void AbandonArticle() noexcept override { calls.emplace_back("AbandonArticle"); }
  // Every command is accepted with an empty reply: a HEAD finds the article held.
  std::optional<Refusal> Command(std::string_view line) override { return Call("Command:" + std::string(line)); }
  std::string ReceivedText() override { return {}; }
  bool Readable() const override { return false; }

 private:
  std::optional<Refusal> Call(std::string name) {
    calls.push_back(name);
    const auto scripted =
        std::ranges::find_if(script_, [&](const auto& answer) { return name.starts_with(answer.first); });
    if (scripted == script_.end()) return std::nullopt;
    const std::int16_t code = scripted->second;
    script_.erase(scripted);
    if (code == kFailure) throw NewsError(news_error::kConnectionLost, "connection lost");
    return Refusal{code, std::to_string(code) + " scripted"};
  }
  NewsOptions options_;
  std::vector<std::pair<std::string, std::int16_t>> script_;
};

}  // namespace quillport::testing
