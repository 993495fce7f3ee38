// A private INN news server for tests that need a real one.
//
// Each InnServer is a whole INN instance of its own (scripts/inn-instance.sh)
// in a fresh temporary folder, listening on a free port of 127.0.0.1, with
// the groups it was given (INN adds "control", "control.cancel" and "junk",
// which it cannot run without). It runs as user news when the test runs as
// root, and is shut down by the destructor; should the test program die
// first, the instance shuts itself down about a second later.
//
// What such a server answers (INN 2.7.1):
//   - a connection greets "200 ... (transit mode)": 127.0.0.1 is a feeding
//     peer, and reader commands get "401 MODE-READER" until MODE READER
//     hands the connection to nnrpd, which greets again with 200. Whatever
//     was sent in the same write as MODE READER is lost in that handover.
//   - POST of a Message-ID the server holds already: "441 435 Duplicate".
//   - POST to groups none of which the server carries:
//     "441 No valid newsgroups in "<the Newsgroups header>"".
//   - an article whose Date is years old is taken (no age limit), and so is
//     one of any size.
//   - a reader connection that outlives innd still answers POST with 240,
//     spooling the article where nobody reads it; Stop therefore ends the
//     reader processes as well, so connections break as with a dead server.
//
// The helpers below are a plain NNTP reader of their own (one connection per
// call, every wait bounded); they do not use the project's news client.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillport::testing {

class InnServer {
 public:
  // Starts a private INN on a free loopback port in a fresh temporary
  // folder, carrying `groups`. Throws std::runtime_error with the start
  // script's output when the server cannot start.
  explicit InnServer(std::vector<std::string> groups = {"local.test"});
  // Stops the server (if still running) and removes its folder.
  ~InnServer();

  InnServer(const InnServer&) = delete;
  InnServer& operator=(const InnServer&) = delete;

  const std::string& host() const { return host_; }  // "127.0.0.1"
  int port() const { return port_; }
  std::string port_text() const { return std::to_string(port_); }
  // The instance's folder; its log/ holds INN's logs (log/syslog, log/news).
  const std::filesystem::path& dir() const { return dir_; }

  // ARTICLE, HEAD and BODY by Message-ID (with or without the angle
  // brackets). The text comes back with the dot-stuffing removed and every
  // line ended by CR LF; HEAD's text ends with the last header line, so
  // Article() == Head() + "\r\n" + Body(). nullopt when the server answers
  // 430 (no such article); any other answer throws std::runtime_error, as
  // does a server that cannot be reached.
  std::optional<std::string> Article(std::string_view message_id);
  std::optional<std::string> Head(std::string_view message_id);
  std::optional<std::string> Body(std::string_view message_id);

  // The number of articles in `group`, from the GROUP reply. Throws
  // std::runtime_error when the server does not carry the group.
  std::int64_t ArticleCount(std::string_view group);

  // Posts `article` (header lines, an empty line, the body; lines ended by
  // CR LF) and returns the server's final reply code: 240 when taken, 441
  // when refused, or the answer to POST itself when that is not 340. The
  // helper dot-stuffs the text and ends it with the terminating dot.
  int Post(std::string_view article);
  // The full reply line (without CR LF) of the last Post, for messages.
  const std::string& last_reply() const { return last_reply_; }

  // Stops the server now, readers included (for tests of a server that has
  // gone away). The folder stays until the destructor.
  void Stop();
  // Starts the stopped server again on the same port; it keeps its articles.
  void Restart();

 private:
  std::optional<std::string> Fetch(std::string_view command, int expected_code,
                                   std::string_view message_id);

  std::string host_ = "127.0.0.1";
  int port_ = 0;
  std::filesystem::path dir_;
  std::vector<std::string> groups_;
  bool running_ = false;
  std::string last_reply_;
};

}  // namespace quillport::testing
