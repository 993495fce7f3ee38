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
// figures as a ratio to the raw client's. Then the whole program: a copy of
// it built with the scratch folders and the private server compiled in, run
// on a private X server (Xvfb), through
//   5. program, files: one Action (a double-click on Remaining) over W small
//      files, its window pinged (_NET_WM_PING) all along;
//   6. raw, files: the same W articles by the raw client, for comparison;
//   7. program, large: one Action over the large message, pinged too.
//
//   quillport_bench [--articles N] [--large-mb M] [--skip-large]
//                   [--window-files W] [--skip-window] [--program-build DIR]
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
#include "bench/interrupt_cleanup.h"
#include "bench/phase_process.h"
#include "bench/program_build.h"
#include "bench/raw_nntp_poster.h"
#include "bench/window_phase.h"
#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "relay/relay_settings.h"
#include "tests/testing/inn_server.h"
#include "tests/testing/temp_folder.h"

namespace quillport::bench {
namespace {

namespace fs = std::filesystem;

using Steady = std::chrono::steady_clock;

constexpr char kGroup[] = "local.test";
constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::chrono::seconds kRawTimeout{120};

struct Options {
  int articles = 1000;
  int large_mib = 300;
  bool skip_large = false;
  int window_files = 300;
  bool skip_window = false;
  fs::path program_build = QUILLPORT_PROGRAM_BUILD_DIR;
};

[[noreturn]] void Usage(const char* program, int exit_code) {
  (exit_code == 0 ? std::cout : std::cerr)
      << "usage: " << program
      << " [--articles N] [--large-mb M] [--skip-large] [--window-files W] [--skip-window] [--program-build DIR]\n"
      << "  --articles N         small articles per client (default 1000, about 2 KB each)\n"
      << "  --large-mb M         body of the large message in MiB (default 300)\n"
      << "  --skip-large         leave out the large message\n"
      << "  --window-files W     small files of the whole program's Action (default 300)\n"
      << "  --skip-window        leave out the whole program (it needs Xvfb and xdotool)\n"
      << "  --program-build DIR  where the program's copy is built (default " QUILLPORT_PROGRAM_BUILD_DIR ")\n"
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
    } else if (arg == "--window-files") {
      options.window_files = number(i);
    } else if (arg == "--skip-window") {
      options.skip_window = true;
    } else if (arg == "--program-build") {
      if (i + 1 >= argc) Usage(argv[0], 2);
      options.program_build = fs::absolute(argv[++i]);
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

// Writes `message` as the mail program drops it, under a name the relay
// skips, then gives it its .cnm name.
void WriteLargeFile(const fs::path& file, const LargeMessage& message) {
  const auto start = Steady::now();
  const fs::path part = fs::path(file).replace_extension(".part");
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << message.transport_header() << message.article_header();
    message.ForEachBodyChunk([&](std::string_view chunk) { out.write(chunk.data(), chunk.size()); });
    if (!out.flush()) throw std::runtime_error("cannot write " + part.string());
  }
  fs::rename(part, file);
  std::printf("  %-16s wrote %s (%.1f MiB) in %.1f s\n", "", file.c_str(),
              static_cast<double>(fs::file_size(file)) / kMiB,
              std::chrono::duration<double>(Steady::now() - start).count());
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
// private server. The note holds the failure the Action ended with.
PhaseResult EngineAction(const testing::InnServer& inn, const RelaySettings& settings) {
  NntpClient client;
  NewsOptions options;
  options.host = inn.host();
  options.port = inn.port_text();
  client.Configure(options);
  EngineListener nobody;
  RelayCycle relay(client, nobody, settings);

  PhaseMeter meter;
  meter.Start();
  const ActionReport report = relay.DoAction(ActionTrigger::kTimer);
  PhaseResult result;
  result.figures = meter.Stop();
  result.completed = !report.broken_off;
  const RelayState& state = report.state;
  result.done = state.action_messages.count;
  const Failure* failure = report.broken_off     ? &*report.broken_off
                           : report.last_failure ? &*report.last_failure
                                                 : nullptr;
  result.note = std::to_string(result.done) + " file(s) handled; last failure: \"" +
                (failure != nullptr ? failure->Described() : std::string()) + "\"";
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

// ---- The whole program ---------------------------------------------------

// The folders compiled into the program's copy, made ready, and the private
// server as its news server.
ProgramSettings ProgramFolders(const fs::path& scratch, const testing::InnServer& inn) {
  ProgramSettings settings;
  settings.drop_folder = scratch / "program-drop";
  settings.error_folder = settings.drop_folder / "Errors";
  settings.log_file = scratch / "program-log" / "~NNTP.log";
  settings.server_host = inn.host();
  settings.server_port = std::stoi(inn.port_text());
  fs::create_directories(settings.error_folder);
  fs::create_directories(settings.log_file.parent_path());
  return settings;
}

// The relay leaves a file alone for two seconds after it last changed.
void WaitUntilQuiet(Steady::time_point changed) {
  std::this_thread::sleep_until(changed + std::chrono::milliseconds(2500));
}

struct WindowResults {
  std::string failure;  // why the phases stopped short, when they did
  std::optional<IdleFigures> idle;
  std::optional<ActionFigures> files;
  std::optional<PhaseResult> raw_files;
  std::optional<ActionFigures> large;
  std::uint64_t large_bytes = 0;
  bool all_good = false;
};

void PrintAction(const char* name, const ActionFigures& figures) {
  std::printf("  %-16s %s in %.2f s; %d of %d pings answered, the longest after %.1f ms%s%s\n", name,
              figures.completed ? "completed" : "FAILED", figures.wall_seconds, figures.pings.answered,
              figures.pings.sent, figures.pings.longest_ms, figures.note.empty() ? "" : "; ", figures.note.c_str());
}

// 5. The program, one Action over `files` small files already in its drop
// folder.
ActionFigures ProgramFiles(ProgramUnderX& program, testing::InnServer& inn, const ProgramSettings& settings, int files,
                           bool& posted) {
  const std::int64_t before = inn.ArticleCount(kGroup);
  ActionFigures figures =
      MeasureAction(program, settings.drop_folder, files, settings.server_port, std::chrono::seconds(60 + files));
  PrintAction("program files", figures);
  const std::int64_t taken = inn.ArticleCount(kGroup) - before;
  const int left = CountMessageFiles(settings.drop_folder);
  const int filed = CountMessageFiles(settings.error_folder);
  posted = figures.completed && taken == files && left == 0 && filed == 0;
  std::printf("  %-16s %s: server holds %lld more articles, %d .cnm left in the drop folder, %d filed as errors\n", "",
              posted ? "all posted" : "NOT ALL POSTED", static_cast<long long>(taken), left, filed);
  return figures;
}

// 6. The raw client, the same files' articles under other Message-IDs.
PhaseResult RawFiles(testing::InnServer& inn, int files, bool& posted) {
  std::vector<std::string> articles;
  for (int i = 1; i <= files; ++i) articles.push_back(MakeSmallMessage("raw-window", i, kGroup).article);
  const std::int64_t before = inn.ArticleCount(kGroup);
  PhaseResult result = RunInChildProcess([&] { return RawArticles(inn, articles); });
  PrintPhase("raw files", result);
  const std::int64_t taken = inn.ArticleCount(kGroup) - before;
  posted = result.completed && result.done == files && taken == files;
  std::printf("  %-16s %s: server holds %lld more articles\n", "", posted ? "all posted" : "NOT ALL POSTED",
              static_cast<long long>(taken));
  return result;
}

// 7. The program, one Action over the large message.
ActionFigures ProgramLarge(ProgramUnderX& program, testing::InnServer& inn, const ProgramSettings& settings,
                           const Options& options, std::uint64_t& bytes, bool& posted) {
  const std::uint64_t body = static_cast<std::uint64_t>(options.large_mib) * 1024 * 1024;
  const LargeMessage message("<program-large@quillport.bench>", kGroup, body);
  bytes = message.article_bytes();
  const fs::path file = settings.drop_folder / "large.cnm";
  WriteLargeFile(file, message);
  WaitUntilQuiet(Steady::now());
  ActionFigures figures =
      MeasureAction(program, settings.drop_folder, 1, settings.server_port, std::chrono::minutes(15));
  PrintAction("program large", figures);
  posted = figures.completed && inn.Head("<program-large@quillport.bench>").has_value();
  std::printf("  %-16s %s\n", "", posted ? "the server holds it" : "the server does not hold it");
  std::error_code ignored;
  fs::remove(file, ignored);
  return figures;
}

// Phases 5 to 7 on `program`, the copy built for `settings`.
WindowResults WindowPhases(const Options& options, testing::InnServer& inn, const ProgramSettings& settings,
                           const fs::path& program, const fs::path& work) {
  WindowResults results;
  try {
    for (int i = 1; i <= options.window_files; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "msg-%06d.cnm", i);
      WriteFile(settings.drop_folder / name, MakeSmallMessage("program", i, kGroup).file);
    }
    const Steady::time_point written = Steady::now();
    fs::create_directories(work);
    ProgramUnderX under_x(program, work);
    std::printf("  %-16s the program (pid %d) shows its window 0x%lx on Xvfb display %s\n", "program",
                static_cast<int>(under_x.pid()), under_x.window(), under_x.display().c_str());
    // No timed Action may come while the benchmark's run.
    under_x.SetPeriod("999");
    results.idle = MeasureIdle(under_x, std::chrono::seconds(3));
    WaitUntilQuiet(written);
    bool files_posted = false;
    bool raw_posted = false;
    bool large_posted = true;
    results.files = ProgramFiles(under_x, inn, settings, options.window_files, files_posted);
    results.raw_files = RawFiles(inn, options.window_files, raw_posted);
    if (!options.skip_large) {
      results.large = ProgramLarge(under_x, inn, settings, options, results.large_bytes, large_posted);
    }
    results.all_good = files_posted && raw_posted && large_posted;
  } catch (const std::exception& failure) {
    results.failure = failure.what();
    std::printf("  %-16s FAILED: %s\n", "program", results.failure.c_str());
  }
  return results;
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

std::string Verdict(bool met) { return met ? "met" : "MISSED"; }

void PrintWindowFiles(const Options& options, const WindowResults& w) {
  const ActionFigures& p = *w.files;
  const PhaseResult& r = *w.raw_files;
  const double n = options.window_files;
  const double pauses = n * 0.1;  // the program pauses 100 ms after each file
  const auto when_completed = [&](double value) { return p.completed ? std::optional(value) : std::nullopt; };
  const std::optional<double> beyond = when_completed(p.wall_seconds - pauses);
  const double cpu_ms = p.cpu_seconds * 1e3 / n;
  const double ping_ms = w.idle ? w.idle->PingCost() * p.pings.sent * 1e3 / n : 0.0;
  std::printf("  one Action of %d small files (about 2 KB each)\n", options.window_files);
  Row("wall s beyond the pauses", beyond, If(r, r.figures.wall_seconds), 3);
  Row("  per file, ms", when_completed(*beyond * 1e3 / n), If(r, r.figures.wall_seconds * 1e3 / n), 3);
  Row("CPU ms per file (user+sys)", when_completed(cpu_ms), If(r, r.figures.cpu_seconds * 1e3 / n), 3);
  Row("  less the pings' share (estimate)", when_completed(cpu_ms - ping_ms), If(r, r.figures.cpu_seconds * 1e3 / n),
      3);
  Row("wall s, pauses included", p.wall_seconds, std::nullopt, 2);
  Row("pings sent", p.pings.sent, std::nullopt, 0);
  Row("pings answered", p.pings.answered, std::nullopt, 0);
  Row("longest ping answer ms", p.pings.longest_ms, std::nullopt, 1);
  Row("pings answered after 100 ms", p.pings.slower_than_limit, std::nullopt, 0);
  if (w.idle) {
    const IdleFigures& idle = *w.idle;
    std::printf(
        "  idle, the program used %.1f ms CPU in %.1f s, and %.1f ms in as long while pinged (%d pings, the\n"
        "  longest answer %.1f ms): about %.0f us a ping, %.3f ms per file over this Action's pings\n",
        idle.quiet_cpu_seconds * 1e3, idle.seconds, idle.pinged_cpu_seconds * 1e3, idle.pings.sent,
        idle.pings.longest_ms, idle.PingCost() * 1e6, ping_ms);
  }
  if (beyond && r.completed) {
    std::printf("  targets: CPU <= 0.4 ms per file: %s (%s without the pings' share);\n",
                Verdict(cpu_ms <= 0.4).c_str(), Verdict(cpu_ms - ping_ms <= 0.4).c_str());
    std::printf("           wall beyond the pauses <= 1.25x the raw client's: %s;\n",
                Verdict(*beyond <= 1.25 * r.figures.wall_seconds).c_str());
    std::printf("           every ping answered within 100 ms: %s\n",
                Verdict(p.pings.answered == p.pings.sent && p.pings.slower_than_limit == 0).c_str());
  }
}

void PrintWindowLarge(const WindowResults& w, const std::optional<PhaseResult>& raw_large) {
  const ActionFigures& p = *w.large;
  const double mib = static_cast<double>(w.large_bytes) / kMiB;
  const auto raw = [&](double value) { return raw_large ? If(*raw_large, value) : std::nullopt; };
  const std::optional<double> program_wall = p.completed ? std::optional(p.wall_seconds - 0.1) : std::nullopt;
  std::printf("  one Action over one large message (%.1f MiB article)\n", mib);
  Row("wall s beyond the pause", program_wall, raw_large ? raw(raw_large->figures.wall_seconds) : std::nullopt, 2);
  Row("MiB/s (higher is better)", program_wall ? std::optional(mib / *program_wall) : std::nullopt,
      raw_large ? raw(mib / raw_large->figures.wall_seconds) : std::nullopt, 1);
  Row("CPU s (user+sys)", p.completed ? std::optional(p.cpu_seconds) : std::nullopt,
      raw_large ? raw(raw_large->figures.cpu_seconds) : std::nullopt, 2);
  Row("pings sent", p.pings.sent, std::nullopt, 0);
  Row("longest ping answer ms", p.pings.longest_ms, std::nullopt, 1);
  Row("pings answered after 100 ms", p.pings.slower_than_limit, std::nullopt, 0);
  std::printf("  target: every ping answered within 100 ms: %s\n",
              Verdict(p.pings.answered == p.pings.sent && p.pings.slower_than_limit == 0).c_str());
}

// The whole program's table: phases 5 to 7.
void PrintWindowTable(const Options& options, const WindowResults& w, const std::optional<PhaseResult>& raw_large) {
  std::printf("\n  THE WHOLE PROGRAM (quillport under Xvfb) against the raw client\n");
  std::printf("  %-34s %12s %12s %12s\n", "", "program", "raw client", "program/raw");
  if (w.files && w.raw_files) PrintWindowFiles(options, w);
  if (w.large) PrintWindowLarge(w, raw_large);
  if (!w.failure.empty()) std::printf("  FAILED: %s\n", w.failure.c_str());
  std::printf(
      "\n  The program's CPU is the user + system time of its process (/proc/PID/stat, all threads,\n"
      "  in steps of 10 ms) from just before the double-click on Remaining to the end of the Action;\n"
      "  its wall time runs from the double-click to its disconnect from the server, less the 100 ms\n"
      "  pause it makes after each file. The Action ends when the drop folder holds no .cnm file and\n"
      "  the program no connection to the server. Its window is sent _NET_WM_PING all along, one at a\n"
      "  time, every %lld ms, and the time to each answer taken; answering costs the program CPU time,\n"
      "  whose share is estimated from the program idle, pinged and not. The raw client's figures are\n"
      "  those of its own phase (its process's CPU, connect to QUIT), in this run on the same server.\n",
      static_cast<long long>(kPingInterval.count()));
}

int Run(const Options& options) {
  std::printf("quillport_bench: %d articles, large message %s, the whole program %s\n", options.articles,
              options.skip_large ? "skipped" : (std::to_string(options.large_mib) + " MiB").c_str(),
              options.skip_window ? "skipped" : ("with " + std::to_string(options.window_files) + " files").c_str());
  std::printf("machine: %u cores, %s\n", std::thread::hardware_concurrency(), CpuModel().c_str());
  if (geteuid() != 0) {
    std::fprintf(stderr, "quillport_bench: must run as root (it starts a private INN as user news)\n");
    return 1;
  }

  testing::InnServer inn({kGroup});
  testing::TempFolder scratch;
  const InterruptCleanup cleanup(scratch.path());
  std::printf("private INN on %s:%s, scratch folder %s\n\n", inn.host().c_str(), inn.port_text().c_str(),
              scratch.path().c_str());
  bool all_good = true;

  // The program's copy first: its build is the slow part, and it may fail.
  std::optional<ProgramSettings> program_settings;
  std::optional<fs::path> program;
  std::string build_failure;
  if (!options.skip_window) {
    program_settings = ProgramFolders(scratch.path(), inn);
    const fs::path log = options.program_build.string() + ".log";
    const auto start = Steady::now();
    try {
      program = BuildProgram(options.program_build, *program_settings, log);
      std::printf("the program's copy built in %.0f s: %s (build output in %s)\n\n",
                  std::chrono::duration<double>(Steady::now() - start).count(), program->c_str(), log.c_str());
    } catch (const std::exception& failure) {
      build_failure = failure.what();
      std::printf("the program's copy could not be built: %s\n\n", build_failure.c_str());
    }
  }

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
    WriteLargeFile(fs::path(large.drop_folder) / "large.cnm", engine_message);
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

  std::optional<WindowResults> window;
  if (program) {
    window = WindowPhases(options, inn, *program_settings, *program, scratch.path() / "window");
  } else if (!options.skip_window) {
    window.emplace().failure = "the program's copy could not be built: " + build_failure;
  }
  all_good = all_good && (!window || window->all_good);

  PrintTable(options, engine_articles, raw_articles, engine_large, raw_large, large_bytes);
  if (window) PrintWindowTable(options, *window, raw_large);
  std::fflush(stdout);
  return all_good ? 0 : 1;
}

}  // namespace
}  // namespace quillport::bench

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows as it comes, in a file too
  const quillport::bench::Options options = quillport::bench::ParseOptions(argc, argv);
  try {
    return quillport::bench::Run(options);
  } catch (const std::exception& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "quillport_bench: %s\n", failure.what());
    return 1;
  }
}
