// Failures reported by the news client: a number and a description.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace quillport {

// Error numbers of the news client. A reply the server refuses with is
// reported under its own three-digit reply code (430, 441, 502 ...); the
// numbers below are the client's own failures. All are positive.
namespace news_error {
inline constexpr std::int16_t kInvalidArgument = 5;     // a setting or text the client cannot take
inline constexpr std::int16_t kOverflow = 6;            // a piece longer than 32767 characters
inline constexpr std::int16_t kNotConnected = 10057;    // no connection is open
inline constexpr std::int16_t kTimedOut = 10060;        // the server did not answer in time
inline constexpr std::int16_t kRefused = 10061;         // nothing listens at the server address
inline constexpr std::int16_t kConnectionLost = 10054;  // the server closed or reset the link
inline constexpr std::int16_t kHostNotFound = 11001;    // the host name does not resolve
inline constexpr std::int16_t kProtocol = 10200;        // the server's reply makes no sense
inline constexpr std::int16_t kNetwork = 10050;         // any other network failure
}  // namespace news_error

class NewsError : public std::runtime_error {
 public:
  NewsError(std::int16_t number, const std::string& description) : std::runtime_error(description), number_(number) {}

  std::int16_t number() const { return number_; }

 private:
  std::int16_t number_;
};

}  // namespace quillport
