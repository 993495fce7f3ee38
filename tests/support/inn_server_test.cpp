#include "tests/support/inn_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace quillport::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string MakeArticle(const std::string& group, const std::string& message_id, const std::string& body) {
  return "From: Relay Test <relay@quillport.test>\r\n"
         "Newsgroups: " + group + "\r\n"
         "Subject: private INN self-test\r\n"
         "Message-ID: " + message_id + "\r\n"
         "Date: Mon, 05 Feb 2001 10:00:00 +0000\r\n"
         "\r\n" + body;
}

// Lines that NNTP must dot-stuff, a lone dot that would end the article if
// it were not, an empty line and trailing blanks.
const std::string kDottedBody =
    "First line\r\n"
    ".leading dot\r\n"
    "..two leading dots\r\n"
    ".\r\n"
    "\r\n"
    "trailing blanks   \r\n"
    "last line\r\n";

// A raw reader connection, held open across a stop of the server.
class RawReader {
 public:
  explicit RawReader(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    timeval limit{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("connect failed");
    }
  }
  ~RawReader() { close(fd_); }
  void Send(const std::string& text) { (void)send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
  // What arrives until the next CR LF; empty when the connection ended.
  std::string Line() {
    std::string line;
    char c = 0;
    while (recv(fd_, &c, 1, 0) == 1) {
      line += c;
      if (line.ends_with("\r\n")) break;
    }
    return line;
  }

 private:
  int fd_;
};

TEST(InnServerTest, PostedArticleReadsBackExactlyAndRefusalsFollowInn) {
  InnServer inn;
  EXPECT_EQ(inn.host(), "127.0.0.1");
  EXPECT_EQ(inn.port_text(), std::to_string(inn.port()));

  const std::string id = "<dots.1@quillport.test>";
  ASSERT_EQ(inn.Post(MakeArticle("local.test", id, kDottedBody)), 240) << inn.last_reply();

  auto body = inn.Body(id);
  ASSERT_TRUE(body.has_value());
  EXPECT_EQ(*body, kDottedBody);
  auto head = inn.Head(id);
  ASSERT_TRUE(head.has_value());
  EXPECT_THAT(*head, HasSubstr("Message-ID: " + id + "\r\n"));
  EXPECT_THAT(*head, HasSubstr("Newsgroups: local.test\r\n"));
  EXPECT_EQ(inn.Article(id), *head + "\r\n" + *body);
  EXPECT_EQ(inn.Body("dots.1@quillport.test"), body) << "message-id without angle brackets";
  EXPECT_EQ(inn.Article("<never.posted@quillport.test>"), std::nullopt);

  // A message-id the server holds already: refused, the first article stays.
  EXPECT_EQ(inn.Post(MakeArticle("local.test", id, "another body\r\n")), 441);
  EXPECT_THAT(inn.last_reply(), HasSubstr("435"));
  EXPECT_EQ(inn.Body(id), kDottedBody);

  // No group the server carries: refused and not stored.
  const std::string lost = "<nowhere.1@quillport.test>";
  EXPECT_EQ(inn.Post(MakeArticle("no.such.group", lost, "text\r\n")), 441);
  EXPECT_THAT(inn.last_reply(), HasSubstr("No valid newsgroups"));
  EXPECT_EQ(inn.Article(lost), std::nullopt);

  EXPECT_EQ(inn.ArticleCount("local.test"), 1);
  EXPECT_THROW(inn.ArticleCount("no.such.group"), std::runtime_error);
}

TEST(InnServerTest, StopEndsOpenReadersAndRestartKeepsTheArticles) {
  InnServer inn({"local.test", "local.other"});
  const std::string id = "<kept.1@quillport.test>";
  ASSERT_EQ(inn.Post(MakeArticle("local.other", id, "kept\r\n")), 240) << inn.last_reply();
  EXPECT_EQ(inn.ArticleCount("local.other"), 1);
  EXPECT_EQ(inn.ArticleCount("local.test"), 0);

  // A reader connection open when the server stops must break, or posts on
  // it would be answered 240 and left in a spool nobody reads.
  RawReader reader(inn.port());
  EXPECT_THAT(reader.Line(), StartsWith("200"));
  reader.Send("MODE READER\r\n");
  EXPECT_THAT(reader.Line(), StartsWith("200"));

  inn.Stop();
  reader.Send("POST\r\n");
  EXPECT_EQ(reader.Line(), "");
  EXPECT_THROW(inn.Article(id), std::runtime_error);

  inn.Restart();
  EXPECT_EQ(inn.Body(id), "kept\r\n");
  EXPECT_EQ(inn.ArticleCount("local.other"), 1);
  EXPECT_EQ(inn.Post(MakeArticle("local.other", id, "kept\r\n")), 441) << "history survives a restart";
}

}  // namespace
}  // namespace quillport::testing
