// Turns article text, handed over in pieces, into its form on the wire.
//
// On the wire an article is a series of CR LF lines ended by a line holding
// a single ".". So that no content can end the article early or slip a
// command to the server:
//   - every line that begins with "." gets a second "." in front;
//   - a CR or an LF standing alone is sent as CR LF, and CR LF stays CR LF.
// A piece may end anywhere, even between the CR and the LF of a line end:
// the encoder remembers where it stands in the line from one piece to the
// next. It never holds bytes back: everything a piece brings is in the text
// Encode appends. The wire text is appended to a buffer the caller owns, so
// that a whole article can be gathered without a string per piece.
#pragma once

#include <string>
#include <string_view>

namespace quillport {

class ArticleEncoder {
 public:
  // Appends the wire text for the next piece of the article to `wire`.
  void Encode(std::string_view piece, std::string& wire);

  // Appends the wire text that ends the article to `wire`: CR LF when the
  // last line is unfinished, then the terminating "." line. Leaves the
  // encoder ready for a new article.
  void Finish(std::string& wire);

  // Forgets the article under way.
  void Reset() { state_ = State::kLineStart; }

 private:
  enum class State {
    kLineStart,  // at the start of a line
    kAfterCr,    // a CR was sent as a line end; an LF right after it belongs to it
    kInLine,     // inside a line
  };
  State state_ = State::kLineStart;
};

}  // namespace quillport
