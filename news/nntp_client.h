// The news client over NNTP/TCP.
#pragma once

#include <memory>

#include "news/news_client.h"

namespace quillport {

class NntpClient : public NewsClient {
 public:
  NntpClient();
  ~NntpClient() override;
  // (declarations of the NewsClient operations follow)
};

}  // namespace quillport
