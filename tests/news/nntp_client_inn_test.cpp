// The news client against a private INN on the loopback interface.
#include <gtest/gtest.h>

#include <string>

#include "news/nntp_client.h"
#include "tests/support/inn_server.h"

namespace quillport {
namespace {

TEST(NntpClientInn, PostsStoresRefusesDuplicatesAndAnswersHeads) {
  testing::InnServer inn({"local.test"});
  NntpClient client;
  int events = 0;
  client.SetErrorHandler([&](std::int16_t, const std::string&) { ++events; });
  client.SetSetting(NewsSetting::kServerHost, inn.host());
  client.SetSetting(NewsSetting::kServerPort, inn.port_text());
  client.SetSetting(NewsSetting::kTimeout, std::int16_t{10});
  ASSERT_EQ(client.Connect(), 0);

  const std::string id = "<dots@quillport.test>";
  auto post = [&] {
    EXPECT_EQ(client.BeginArticle(), 0);
    client.WriteText("From: tester@quillport.test\r\nNewsgroups: local.test\r\nSubject: dots\r\nMessage-ID: " + id +
                     "\r\n\r\n.leading dot\r\n");
    client.WriteText("..two dots\r");  // a line end cut across two pieces
    client.WriteText("\n.\r\n\r\nlast\r\n");
    return client.EndArticle();
  };
  EXPECT_EQ(post(), 0);
  EXPECT_EQ(inn.Body(id), ".leading dot\r\n..two dots\r\n.\r\n\r\nlast\r\n");
  EXPECT_EQ(events, 0);
  EXPECT_NE(post(), 0);  // the same message id again
  EXPECT_EQ(events, 1);
  EXPECT_EQ(inn.ArticleCount("local.test"), 1);

  client.CommandText("HEAD " + id);
  std::string head;
  for (int i = 0; client.Readable() && i < 1000; ++i) head += client.ReceivedText();
  EXPECT_NE(head.find("Message-ID: " + id + "\r\n"), std::string::npos) << head;
  EXPECT_TRUE(head.ends_with("\r\n.\r\n")) << head;
  try {
    client.CommandText("HEAD <absent@quillport.test>");
    ADD_FAILURE() << "HEAD of an absent article succeeded";
  } catch (const NewsError& error) {
    EXPECT_EQ(error.number(), 430) << error.description();
  }
  EXPECT_EQ(client.Disconnect(), 0);
}

}  // namespace
}  // namespace quillport
