// quillportd_arrival_bench: how long a mail takes from quillport-deliver to the news server when quillportd runs.
//
// Starts a private INN (needs root) and quillportd (the service as the program runs it: its timer, its watch of
// the drop folder, 100 ms after each file) in a process of its own, with scratch folders. Then delivers N mails
// (default 40) through quillport-deliver's own code, one every 700 ms, so some arrive while an Action runs, and
// polls the server every 50 ms for each one not yet seen. Prints the 50th and 95th percentile and the worst
// time from the end of the delivery to the article's presence on the server; fails when the 95th is above 5 s.
//
//   quillportd_arrival_bench [--mails N]
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/file_descriptor.h"
#include "daemon/relay_service.h"
#include "deliver/delivery.h"
#include "tests/testing/inn_server.h"
#include "tests/testing/temp_folder.h"

namespace quillport::bench {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kBetweenMails{700};
constexpr std::chrono::milliseconds kPoll{50};
constexpr std::chrono::seconds kGiveUp{60};
constexpr double kTarget = 5.0;  // seconds, for the 95th percentile

// The service in a child process, stopped by SIGTERM at the end.
class ServiceProcess {
 public:
  explicit ServiceProcess(ServiceSettings settings) {
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("cannot fork");
    if (pid_ == 0) {
      int status = 1;
      try {
        status = RelayService(std::move(settings)).Run();
      } catch (const std::exception& failure) {
        std::fprintf(stderr, "quillportd: %s\n", failure.what());
      }
      ::_exit(status);
    }
  }
  ~ServiceProcess() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

 private:
  pid_t pid_ = -1;
};

void Deliver(const std::string& drop, int number) {
  const std::string message =
      "From sender@example.org Mon Dec  7 06:00:00 2026\nFrom: Sender <sender@example.org>\n"
      "Subject: arrival " +
      std::to_string(number) + "\nMessage-ID: <arrival-" + std::to_string(number) +
      "@quillport.bench>\n\nHello, news.\n";
  FileDescriptor input(::memfd_create("message", MFD_CLOEXEC));
  if (!WriteAll(input.get(), message) || ::lseek(input.get(), 0, SEEK_SET) != 0) throw std::runtime_error("memfd");
  std::ostringstream out, err;
  if (RunDelivery({"-n", "local.test"}, input.get(), drop, out, err) != 0) {
    throw std::runtime_error("delivery failed: " + err.str());
  }
}

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(std::lround(share * static_cast<double>(values.size() - 1)));
  return values[std::min(index, values.size() - 1)];
}

int Run(int mails) {
  testing::InnServer inn;
  testing::TempFolder scratch;
  const std::string drop = scratch / "drop";
  fs::create_directories(drop + "/Errors");
  ServiceSettings settings;
  settings.relay.drop_folder = drop;
  settings.relay.error_folder = drop + "/Errors";
  settings.relay.log_file = scratch / "news.log";
  settings.news.host = inn.host();
  settings.news.port = inn.port_text();
  ServiceProcess service(settings);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // its watch is in place

  std::map<int, Steady::time_point> waiting;  // by mail: when its delivery ended
  std::vector<double> seconds;
  int delivered = 0;
  auto next_delivery = Steady::now();
  const auto give_up = Steady::now() + kBetweenMails * mails + kGiveUp;
  while ((delivered < mails || !waiting.empty()) && Steady::now() < give_up) {
    if (delivered < mails && Steady::now() >= next_delivery) {
      Deliver(drop, delivered);
      waiting[delivered++] = Steady::now();
      next_delivery += kBetweenMails;
    }
    for (auto mail = waiting.begin(); mail != waiting.end();) {
      if (!inn.Head("<arrival-" + std::to_string(mail->first) + "@quillport.bench>")) {
        ++mail;
        continue;
      }
      seconds.push_back(std::chrono::duration<double>(Steady::now() - mail->second).count());
      mail = waiting.erase(mail);
    }
    std::this_thread::sleep_for(kPoll);
  }
  if (!waiting.empty()) {
    std::printf("quillportd_arrival_bench: %zu of %d mails never reached the server\n", waiting.size(), mails);
    return 1;
  }
  const double p50 = Percentile(seconds, 0.50), p95 = Percentile(seconds, 0.95);
  std::printf(
      "quillportd_arrival_bench: %d mails through quillport-deliver, one every %lld ms, to the server by "
      "quillportd's Actions on arrival\n",
      mails, static_cast<long long>(kBetweenMails.count()));
  std::printf(
      "  delivery to server: 50th percentile %.2f s, 95th percentile %.2f s, worst %.2f s (target: 95th at "
      "most %.1f s)\n",
      p50, p95, *std::max_element(seconds.begin(), seconds.end()), kTarget);
  return p95 <= kTarget ? 0 : 1;
}

}  // namespace
}  // namespace quillport::bench

int main(int argc, char** argv) {
  int mails = 40;
  if (argc == 3 && std::string(argv[1]) == "--mails" && std::atoi(argv[2]) > 0) {
    mails = std::atoi(argv[2]);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--mails N]   (default 40)\n", argv[0]);
    return 2;
  }
  try {
    return quillport::bench::Run(mails);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "arrival bench: %s\n", failure.what());
    return 1;
  }
}
