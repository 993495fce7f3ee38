// A news client that records what it is handed and accepts everything, for tests that need no server.
#pragma once

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
  void AbandonArticle() noexcept override { Call("AbandonArticle"); }
  // Every command is accepted with an empty reply: a HEAD finds the article held.
  std::optional<Refusal> Command(std::string_view line) override { return Call("Command:" + std::string(line)); }
  std::string ReceivedText() override { return {}; }
  bool Readable() const override { return false; }

 private:
  std::optional<Refusal> Call(std::string name) {
    calls.push_back(std::move(name));
    return std::nullopt;
  }
  NewsOptions options_;
};

}  // namespace quillport::testing
