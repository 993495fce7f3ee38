// What quillportd runs with: the relay's folders, the news server and the
// pace of its timed Actions. The program itself takes the build's compiled
// settings and nothing else; a test's driver gives folders and a server of
// its own.
#pragma once

#include <chrono>
#include <string>

#include "news/news_client.h"
#include "relay/relay_settings.h"

namespace quillport {

struct ServiceSettings {
  RelaySettings relay = ServiceRelaySettings();
  NewsOptions news = CompiledNewsOptions();
  // The window's timer: the first timed Action one minute after the start
  // (Remaining starts at 1), then one every period (Periodicity starts at 2),
  // counted from the start of the last Action, whatever started it.
  std::chrono::milliseconds first_action{std::chrono::minutes(1)};
  std::chrono::milliseconds period{std::chrono::minutes(2)};
  // The name the records go out under ("started: quillportd 1.0, ...").
  std::string program = "quillportd";

  // The compiled settings at the service's own pace: no pause between
  // files, and a file that changed lately left for the Action the watch of
  // the drop folder starts once it has settled.
  static RelaySettings ServiceRelaySettings() {
    RelaySettings relay = RelaySettings::Compiled();
    relay.pause_after_file = std::chrono::milliseconds::zero();
    relay.settle_within_action = false;
    return relay;
  }

  // The news client as the window configures it: the compiled server, reader
  // mode, 30 s on every wait.
  static NewsOptions CompiledNewsOptions() {
    NewsOptions options;
    options.host = settings::kServerHost;
    options.port = settings::kServerPort;
    options.reader_mode = true;
    options.timeout = std::chrono::seconds(30);
    return options;
  }
};

}  // namespace quillport
