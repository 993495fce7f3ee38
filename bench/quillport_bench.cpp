// quillport_bench: how fast the relay engine posts, against the least a
// client can do over the same connection to the same server.
//
// Starts a private INN (as the tests do; needs root) and, on that one
// server, runs four phases, each in a process of its own:
//   1. engine, articles: N small .cnm files in a scratch drop folder, one
//      RelayCycle::DoAction with the real news client;
//   2. raw, articles: the same N articles as the engine sends them (under
//      other Message-IDs) over one plain socket, POST by POST;
//   3. engine, large: one .cnm file of M MiB, one DoAction;
//   4. raw, large: the same article streamed in big writes.
// and prints wall time, CPU time and memory for each, with the engine's
// figures as a ratio to the raw client's.
//
//   quillport_bench [--articles N] [--large-mb M] [--skip-large]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_corpus.h"
#include "bench/phase_process.h"
#include "bench/raw_nntp_poster.h"
#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "relay/relay_settings.h"
#include "tests/testing/inn_server.h"
#include "tests/testing/temp_folder.h"

namespace quillport::bench {
namespace {

namespace fs = std::filesystem;

constexpr char kGroup[] = "local.test";
constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::chrono::seconds kRawTimeout{120};

struct Options {
  int articles = 1000;
  int large_mib = 300;
  bool skip_large = false;
};

[[noreturn]] void Usage(const char* program, int exit_code) {
  (exit_code == 0 ? std::cout : std::cerr)
      << "usage: " << program << " [--articles N] [--large-mb M] [--skip-large]\n"
      << "  --articles N   small articles per client (default 1000, about 2 KB each)\n"
      << "  --large-mb M   body of the large message in MiB (default 300)\n"
      << "  --skip-large   leave out the large message\n"
      << "Starts a private INN news server, so it must run as root.\n";
  std::exit(exit_code);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  auto number = [&](int& i) {
    if (i + 1 >= argc) Usage(argv[0], 2);
    char* end = nullptr;
    const long value = std::strtol(argv[++i], &end, 10);
    if (*end != '\0' || value < 1 || value > 1000000) Usage(argv[0], 2);
    return static_cast<int>(value);
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--articles") {
      options.articles = number(i);
    } else if (arg == "--large-mb") {
      options.large_mib = number(i);
    } else if (arg == "--skip-large") {
      options.skip_large = true;
    } else if (arg == "--help" || arg == "-h") {
      Usage(argv[0], 0);
    } else {
      Usage(argv[0], 2);
    }
  }
  return options;
}

std::string CpuModel() {
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

int CountMessageFiles(const fs::path& folder) {
  int count = 0;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    if (entry.is_regular_file() && entry.path().extension() == ".cnm") ++count;
  }
  return count;
}

// A drop folder of its own for one engine phase, with its error folder
// inside it and the log file beside it, as the program has them.
RelaySettings EngineFolders(const fs::path& scratch, const std::string& name) {
  RelaySettings settings;
  settings.drop_folder = (scratch / name).string();
  settings.message_pattern = "*.cnm";
  settings.error_folder = (scratch / name / "Errors").string();
  settings.log_file = (scratch / (name + ".log")).string();
  // The program pauses after every file and leaves files alone that changed
  // lately; the bench measures the engine's own work, without either wait.
  settings.pause_after_file = std::chrono::milliseconds(0);
  settings.quiet_period = std::chrono::milliseconds(0);
  fs::create_directories(settings.error_folder);
  return settings;
}

// Phase body: one DoAction over the drop folder of `settings`, with the news
// client configured as the program's start-up configures it, pointed at the
// private server. The note holds the error line as the Action left it.
PhaseResult EngineAction(const testing::InnServer& inn, const RelaySettings& settings) {
  NntpClient client;
  NewsOptions options;
  options.host = inn.host();
  options.port = inn.port_text();
  client.Configure(options);
  RelayCycle relay(client, settings);

  PhaseMeter meter;
  meter.Start();
  const bool completed = relay.DoActionFor("Action");
  PhaseResult result;
  result.figures = meter.Stop();
  result.completed = completed;
  const RelayState& state = relay.state();
  result.done = state.action_messages.count;
  result.note = std::to_string(result.done) + " file(s) handled; error line: \"" + state.error_line.text + "\"";
  result.note += "; status line: " + state.status_line;
  return result;
}

PhaseResult RawArticles(const testing::InnServer& inn, const std::vector<std::string>& articles) {
  PhaseResult result;
  PhaseMeter meter;
  meter.Start();
  {
    RawNntpPoster poster(inn.host(), std::stoi(inn.port_text()), kRawTimeout);
    for (const std::string& article : articles) {
      if (poster.Post(article) == 240) {
        ++result.done;
      } else if (result.note.empty()) {
        result.note = "; first refusal: " + poster.last_reply();
      }
    }
  }  // QUIT and close belong to the phase, as Disconnect does for the engine
  result.figures = meter.Stop();
  result.completed = true;
  result.note = std::to_string(result.done) + " answered 240" + result.note;
  return result;
}

PhaseResult RawLarge(const testing::InnServer& inn, const LargeMessage& message) {
  PhaseResult result;
  PhaseMeter meter;
  meter.Start();
  try {
    RawNntpPoster poster(inn.host(), std::stoi(inn.port_text()), kRawTimeout);
    const int code =
        poster.PostStreamed(message.article_header(), [&](const auto& sink) { message.ForEachBodyChunk(sink); });
    result.done = code == 240 ? 1 : 0;
    result.note = "server replied: " + poster.last_reply();
  } catch (const std::exception& failure) {
    result.note = failure.what();
  }
  result.figures = meter.Stop();
  result.completed = true;
  return result;
}

// ---- Report -------------------------------------------------------------

void PrintPhase(const char* name, const PhaseResult& result) {
  std::printf("  %-16s %s; %s\n", name, result.completed ? "completed" : "FAILED", result.note.c_str());
}

std::string Figure(std::optional<double> value, int decimals) {
  if (!value) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, *value);
  return text;
}

// One table row: engine, raw, and the engine's figure as a multiple of the
// raw client's.
void Row(const char* label, std::optional<double> engine, std::optional<double> raw, int decimals) {
  std::optional<double> ratio;
  if (engine && raw && *raw > 0) ratio = *engine / *raw;
  std::printf("  %-34s %12s %12s %12s\n", label, Figure(engine, decimals).c_str(), Figure(raw, decimals).c_str(),
              ratio ? (Figure(ratio, 2) + "x").c_str() : "-");
}

std::optional<double> If(const PhaseResult& result, double value) {
  return result.completed ? std::optional<double>(value) : std::nullopt;
}

void PrintTable(const Options& options, const std::optional<PhaseResult>& engine_articles,
                const std::optional<PhaseResult>& raw_articles, const std::optional<PhaseResult>& engine_large,
                const std::optional<PhaseResult>& raw_large, std::uint64_t large_bytes) {
  std::printf("\n  %-34s %12s %12s %12s\n", "", "engine", "raw client", "engine/raw");
  if (engine_articles && raw_articles) {
    const PhaseResult& e = *engine_articles;
    const PhaseResult& r = *raw_articles;
    const double n = options.articles;
    std::printf("  %d small articles (about 2 KB each)\n", options.articles);
    Row("wall ms per article", If(e, e.figures.wall_seconds * 1e3 / n), If(r, r.figures.wall_seconds * 1e3 / n), 3);
    Row("CPU ms per article (user+sys)", If(e, e.figures.cpu_seconds * 1e3 / n), If(r, r.figures.cpu_seconds * 1e3 / n),
        3);
    Row("  of which system", If(e, e.figures.system_seconds * 1e3 / n), If(r, r.figures.system_seconds * 1e3 / n), 3);
    Row("wall s for all", If(e, e.figures.wall_seconds), If(r, r.figures.wall_seconds), 2);
    Row("peak RSS MiB (ru_maxrss)", If(e, e.figures.peak_rss_kib / 1024.0), If(r, r.figures.peak_rss_kib / 1024.0), 1);
    Row("RSS growth in phase MiB", If(e, e.figures.rss_growth_kib / 1024.0), If(r, r.figures.rss_growth_kib / 1024.0),
        1);
  }
  if (engine_large && raw_large) {
    const PhaseResult& e = *engine_large;
    const PhaseResult& r = *raw_large;
    const double mib = static_cast<double>(large_bytes) / kMiB;
    std::printf("  one large message (%.1f MiB article)\n", mib);
    Row("wall s", If(e, e.figures.wall_seconds), If(r, r.figures.wall_seconds), 2);
    Row("MiB/s (higher is better)", If(e, mib / e.figures.wall_seconds), If(r, mib / r.figures.wall_seconds), 1);
    Row("CPU s (user+sys)", If(e, e.figures.cpu_seconds), If(r, r.figures.cpu_seconds), 2);
    Row("  of which system", If(e, e.figures.system_seconds), If(r, r.figures.system_seconds), 2);
    Row("CPU ms per MiB", If(e, e.figures.cpu_seconds * 1e3 / mib), If(r, r.figures.cpu_seconds * 1e3 / mib), 2);
    Row("peak RSS MiB (ru_maxrss)", If(e, e.figures.peak_rss_kib / 1024.0), If(r, r.figures.peak_rss_kib / 1024.0), 1);
    Row("RSS growth in phase MiB", If(e, e.figures.rss_growth_kib / 1024.0), If(r, r.figures.rss_growth_kib / 1024.0),
        1);
  }
  std::printf(
      "\n  CPU is this benchmark's own process per phase (INN's is not counted). Each phase runs in\n"
      "  a forked process; \"peak RSS\" is that process's ru_maxrss with the kernel's peak reset at\n"
      "  the start of the timed part, \"RSS growth\" that peak minus the resident size at the start.\n"
      "  A ratio above 1 means the engine needs more (time, CPU, memory) - except MiB/s.\n");
}

int Run(const Options& options) {
  std::printf("quillport_bench: %d articles, large message %s\n", options.articles,
              options.skip_large ? "skipped" : (std::to_string(options.large_mib) + " MiB").c_str());
  std::printf("machine: %u cores, %s\n", std::thread::hardware_concurrency(), CpuModel().c_str());
  if (geteuid() != 0) {
    std::fprintf(stderr, "quillport_bench: must run as root (it starts a private INN as user news)\n");
    return 1;
  }

  testing::InnServer inn({kGroup});
  testing::TempFolder scratch;
  std::printf("private INN on %s:%s, scratch folder %s\n\n", inn.host().c_str(), inn.port_text().c_str(),
              scratch.path().c_str());
  bool all_good = true;

  // 1. Engine, small articles.
  const RelaySettings small = EngineFolders(scratch.path(), "drop-articles");
  for (int i = 1; i <= options.articles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "msg-%06d.cnm", i);
    WriteFile(fs::path(small.drop_folder) / name, MakeSmallMessage("engine", i, kGroup).file);
  }
  const std::int64_t count_before = inn.ArticleCount(kGroup);
  std::printf("phases:\n");
  const PhaseResult engine_articles = RunInChildProcess([&] { return EngineAction(inn, small); });
  PrintPhase("engine articles", engine_articles);
  const int left = CountMessageFiles(small.drop_folder);
  const int filed = CountMessageFiles(small.error_folder);
  const std::int64_t engine_taken = inn.ArticleCount(kGroup) - count_before;
  const bool engine_ok = left == 0 && filed == 0 && engine_taken == options.articles;
  all_good = all_good && engine_ok && engine_articles.completed;
  std::printf("  %-16s %s: server holds %lld more articles, %d .cnm left in the drop folder, %d filed as errors\n", "",
              engine_ok ? "all posted" : "NOT ALL POSTED", static_cast<long long>(engine_taken), left, filed);

  // 2. Raw client, the same articles under other Message-IDs.
  std::vector<std::string> articles;
  articles.reserve(static_cast<std::size_t>(options.articles));
  for (int i = 1; i <= options.articles; ++i) articles.push_back(MakeSmallMessage("raw", i, kGroup).article);
  const std::int64_t raw_before = inn.ArticleCount(kGroup);
  const PhaseResult raw_articles = RunInChildProcess([&] { return RawArticles(inn, articles); });
  articles.clear();
  articles.shrink_to_fit();
  PrintPhase("raw articles", raw_articles);
  const std::int64_t raw_taken = inn.ArticleCount(kGroup) - raw_before;
  const bool raw_ok = raw_articles.done == options.articles && raw_taken == options.articles;
  all_good = all_good && raw_ok && raw_articles.completed;
  std::printf("  %-16s %s: server holds %lld more articles\n", "", raw_ok ? "all posted" : "NOT ALL POSTED",
              static_cast<long long>(raw_taken));

  std::optional<PhaseResult> engine_large;
  std::optional<PhaseResult> raw_large;
  std::uint64_t large_bytes = 0;
  if (!options.skip_large) {
    const std::uint64_t body = static_cast<std::uint64_t>(options.large_mib) * 1024 * 1024;
    // 3. Engine, one large message.
    const RelaySettings large = EngineFolders(scratch.path(), "drop-large");
    const LargeMessage engine_message("<engine-large@quillport.bench>", kGroup, body);
    large_bytes = engine_message.article_bytes();
    const fs::path large_file = fs::path(large.drop_folder) / "large.cnm";
    {
      const auto written_start = std::chrono::steady_clock::now();
      std::ofstream out(large_file, std::ios::binary | std::ios::trunc);
      out << engine_message.transport_header() << engine_message.article_header();
      engine_message.ForEachBodyChunk([&](std::string_view chunk) { out.write(chunk.data(), chunk.size()); });
      if (!out.flush()) throw std::runtime_error("cannot write " + large_file.string());
      std::printf("  %-16s wrote %s (%.1f MiB) in %.1f s\n", "", large_file.c_str(),
                  static_cast<double>(fs::file_size(large_file)) / kMiB,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - written_start).count());
    }
    engine_large = RunInChildProcess([&] { return EngineAction(inn, large); });
    PrintPhase("engine large", *engine_large);
    const bool on_server = inn.Head("<engine-large@quillport.bench>").has_value();
    const int large_filed = CountMessageFiles(large.error_folder);
    const int large_left = CountMessageFiles(large.drop_folder);
    std::printf("  %-16s %s; %d file(s) in the error folder, %d left in the drop folder\n", "",
                on_server ? "the server holds it" : "the server does not hold it", large_filed, large_left);
    all_good = all_good && engine_large->completed;
    fs::remove_all(large.drop_folder);  // the disk space is needed again

    // 4. Raw client, the same article.
    const LargeMessage raw_message("<raw-large@quillport.bench>", kGroup, body);
    raw_large = RunInChildProcess([&] { return RawLarge(inn, raw_message); });
    PrintPhase("raw large", *raw_large);
    all_good = all_good && raw_large->completed;
  }

  PrintTable(options, engine_articles, raw_articles, engine_large, raw_large, large_bytes);
  std::fflush(stdout);
  return all_good ? 0 : 1;
}

}  // namespace
}  // namespace quillport::bench

int main(int argc, char** argv) {
  const quillport::bench::Options options = quillport::bench::ParseOptions(argc, argv);
  try {
    return quillport::bench::Run(options);
  } catch (const std::exception& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "quillport_bench: %s\n", failure.what());
    return 1;
  }
}
