// quillportd_arrival_bench: how long a mail takes from quillport-deliver to the news server when quillportd runs,
// and how fast quillportd works through a backlog, beside a raw client on the same server.
//
// Starts a private INN (needs root) and quillportd (the service as the program runs it: its timer, its watch of
// the drop folder, its own pace) in a process of its own, with scratch folders.
//
// Latency: delivers N mails (default 40) through quillport-deliver's own code, one every 700 ms, so some arrive
// while an Action runs, and polls the server every 50 ms for each one not yet seen. Prints the 50th and 95th
// percentile and the worst time from the end of the delivery to the article's presence on the server.
//
// Drain: D messages (default 2000) wait in the drop folder when a second service starts; it posts them all.
// Prints its rate, a raw client's rate (one connection, nothing but POST) on the same server for as many
// articles, the service's rate as a fraction of it, whether each message reached the server exactly once, and
// the service's resident memory over the drain.
//
// Fails when the 95th percentile is above 1 s, the 50th above 300 ms, the drain below 200 messages a second, or
// a message is missing or posted twice.
//
//   quillportd_arrival_bench [--mails N] [--drain D]
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
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/raw_nntp_poster.h"
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
constexpr double kTarget95 = 1.0;  // seconds
constexpr double kTarget50 = 0.3;
constexpr double kTargetDrain = 200;  // messages per second
constexpr std::chrono::milliseconds kMemoryEvery{100};

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

  // Its resident memory in KiB (VmRSS); 0 when it cannot be read.
  long ResidentKib() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
  }

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

ServiceSettings Settings(const testing::InnServer& inn, const std::string& scratch) {
  const std::string drop = scratch + "/drop";
  fs::create_directories(drop + "/Errors");
  ServiceSettings settings;
  settings.relay.drop_folder = drop;
  settings.relay.error_folder = drop + "/Errors";
  settings.relay.log_file = scratch + "/news.log";
  settings.news.host = inn.host();
  settings.news.port = inn.port_text();
  return settings;
}

// The latency phase; true when within its targets.
bool Latency(testing::InnServer& inn, const std::string& scratch, int mails) {
  const ServiceSettings settings = Settings(inn, scratch);
  const std::string& drop = settings.relay.drop_folder;
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
    return false;
  }
  const double p50 = Percentile(seconds, 0.50), p95 = Percentile(seconds, 0.95);
  std::printf(
      "quillportd_arrival_bench: %d mails through quillport-deliver, one every %lld ms, to the server by "
      "quillportd's Actions on arrival\n",
      mails, static_cast<long long>(kBetweenMails.count()));
  std::printf(
      "  delivery to server: 50th percentile %.2f s, 95th percentile %.2f s, worst %.2f s (targets: 50th at most "
      "%.1f s, 95th at most %.1f s)\n",
      p50, p95, *std::max_element(seconds.begin(), seconds.end()), kTarget50, kTarget95);
  return p50 <= kTarget50 && p95 <= kTarget95;
}

std::string DrainMessage(const std::string& kind, int number) {
  return "From: Sender <sender@example.org>\r\nNewsgroups: local.test\r\nSubject: " + kind + " " +
         std::to_string(number) + "\r\nMessage-ID: <" + kind + "-" + std::to_string(number) +
         "@quillport.bench>\r\n\r\nA backlog, worked through.\r\n";
}

// A raw client's rate for `count` articles on one connection, in articles per second.
double RawRate(const testing::InnServer& inn, int count) {
  RawNntpPoster poster(inn.host(), std::stoi(inn.port_text()), std::chrono::seconds(60));
  const auto start = Steady::now();
  for (int n = 0; n < count; ++n) {
    if (poster.Post(DrainMessage("raw", n)) != 240) throw std::runtime_error("raw POST: " + poster.last_reply());
  }
  return count / std::chrono::duration<double>(Steady::now() - start).count();
}

int MessageFiles(const std::string& folder) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) files += entry.path().extension() == ".cnm" ? 1 : 0;
  return files;
}

// The drain phase; true when within its target and exactly once.
bool Drain(testing::InnServer& inn, const std::string& scratch, int count) {
  const double raw = RawRate(inn, count);
  const ServiceSettings settings = Settings(inn, scratch);
  const std::string& drop = settings.relay.drop_folder;
  for (int n = 0; n < count; ++n) {
    std::ofstream(drop + "/" + std::to_string(100000 + n) + ".cnm", std::ios::binary) << DrainMessage("drain", n);
  }
  // Written long enough ago to have settled: the service takes them at its start.
  const auto before = fs::file_time_type::clock::now() - std::chrono::minutes(1);
  for (const auto& entry : fs::directory_iterator(drop)) fs::last_write_time(entry.path(), before);
  const std::int64_t articles_before = inn.ArticleCount("local.test");

  long least_kib = 0, most_kib = 0;
  const auto start = Steady::now();
  double seconds = 0;
  {
    ServiceProcess service(settings);
    const auto give_up = start + kGiveUp + std::chrono::seconds(count / 20);
    while (MessageFiles(drop) > 0 && Steady::now() < give_up) {
      if (const long kib = service.ResidentKib(); kib > 0) {
        least_kib = least_kib == 0 ? kib : std::min(least_kib, kib);
        most_kib = std::max(most_kib, kib);
      }
      std::this_thread::sleep_for(kMemoryEvery);
    }
    seconds = std::chrono::duration<double>(Steady::now() - start).count();
  }
  const int left = MessageFiles(drop);
  int missing = 0;
  for (int n = 0; n < count; ++n) missing += inn.Head("<drain-" + std::to_string(n) + "@quillport.bench>") ? 0 : 1;
  const std::int64_t posted = inn.ArticleCount("local.test") - articles_before;
  const double rate = (count - left) / seconds;
  std::printf("quillportd_arrival_bench: %d messages waiting when quillportd starts, posted over one connection\n",
              count);
  std::printf(
      "  quillportd: %.0f messages/s (%.2f s, start included); raw client: %.0f articles/s; "
      "quillportd/raw = %.2f (target: at least %.0f messages/s)\n",
      rate, seconds, raw, rate / raw, kTargetDrain);
  std::printf("  exactly once: %d left, %d missing on the server, %lld new articles for %d messages: %s\n", left,
              missing, static_cast<long long>(posted), count,
              left == 0 && missing == 0 && posted == count ? "yes" : "NO");
  std::printf("  quillportd's resident memory during the drain: %ld to %ld KiB\n", least_kib, most_kib);
  return rate >= kTargetDrain && left == 0 && missing == 0 && posted == count;
}

int Run(int mails, int drain) {
  testing::InnServer inn;
  testing::TempFolder latency_scratch, drain_scratch;
  const bool fast = mails == 0 || Latency(inn, latency_scratch / "latency", mails);
  const bool drained = drain == 0 || Drain(inn, drain_scratch / "drain", drain);
  return fast && drained ? 0 : 1;
}

}  // namespace
}  // namespace quillport::bench

int main(int argc, char** argv) {
  int mails = 40, drain = 2000;
  for (int at = 1; at < argc; at += 2) {
    const std::string option = argv[at];
    const int value = at + 1 < argc ? std::atoi(argv[at + 1]) : -1;
    if (option == "--mails" && value >= 0) {
      mails = value;
    } else if (option == "--drain" && value >= 0) {
      drain = value;
    } else {
      std::fprintf(stderr, "usage: %s [--mails N] [--drain D]   (defaults 40 and 2000; 0 skips)\n", argv[0]);
      return 2;
    }
  }
  try {
    return quillport::bench::Run(mails, drain);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "arrival bench: %s\n", failure.what());
    return 1;
  }
}
